// Fuzz target for mksetup's reading of a product description
// (ReadDescriptionText: the maker's INI-like file, UTF-8 with an optional
// BOM), and of the texts in it as mksetup goes on to use them: macro names
// and their expansion, UTF-16 for the string table, plain text made RTF.
// The input is the whole file; the file system is not touched (the checks
// that look at the folders and files a description names are left out).
// Besides memory safety it checks that every mistake is one line naming
// the description and its line, and that valid UTF-8 survives the way to
// UTF-16 and back.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "tools/mksetup/mksetup.h"

using namespace mksetup;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    Description d;
    Problems problems;
    ReadDescriptionText("product.ini", text, {"Product.Version=1.0", "Files.Main=files"}, &d, &problems);
    for (const std::string& line : problems.lines)
        if (line.empty() || line.find('\n') != std::string::npos)
            abort();

    std::map<std::string, std::string> macros = {{"AppName", "GlyphForge"}, {"ProductName", "Corvane GlyphForge"}};
    for (const auto& entry : d.values) {
        const std::string& value = entry.second.text;
        for (const std::string& name : MacroNames(value))
            if (name.find('}') != std::string::npos)
                abort();
        std::string expanded = ExpandKnownMacros(value, macros);
        if (ValidUtf8(value)) {
            if (Utf8FromUtf16(Utf16FromUtf8(value)) != value)
                abort();
            if (CharacterCount(value) > value.size())
                abort();
        }
        std::string rtf = RtfFromPlainText(expanded);
        if (!IsRtf(Bytes(rtf.begin(), rtf.end())))
            abort();
    }
    return 0;
}
