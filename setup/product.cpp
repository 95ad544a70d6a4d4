// The product's identity as its string table gives it: the maker's
// registry key and the product key below it, and the order of two
// versions. Nothing here names a maker: the names come from the
// description that mksetup packed.
#include "setup/setup.h"

#include <string.h>

Text MakerKeyPath(const char* subKey)
{
    Text path("SOFTWARE\\");
    path.Append(LoadStringAsText(IDS_MAKER).c_str());
    path.Append('\\');
    path.Append(subKey);
    return path;
}

Text ProductKeyPath() { return MakerKeyPath(LoadStringAsText(IDS_PRODUCT_NAME).c_str()); }

bool ProductIs64Bit() { return strcmp(LoadStringAsText(IDS_ARCHITECTURE).c_str(), "x64") == 0; }

namespace {

// The number at p (0 when it starts with no digit, saturated at 4 billion),
// and p moved past the part and its dot.
unsigned long NextVersionPart(const char*& p)
{
    unsigned long n = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        n = n > 400000000ul ? 4000000000ul : n * 10 + static_cast<unsigned long>(*p - '0');
    while (*p && *p != '.')
        ++p;
    if (*p == '.')
        ++p;
    return n;
}

} // namespace

int CompareVersions(const char* a, const char* b)
{
    while (*a || *b) {
        unsigned long x = NextVersionPart(a);
        unsigned long y = NextVersionPart(b);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}
