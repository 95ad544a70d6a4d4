// The setup program's own resources as mksetup changes them: the string
// table (blocks of 16 counted UTF-16 strings), the dialog templates (whose
// product names mksetup writes in, since the pages expand only some of
// their controls), the program's icon and the page bitmaps.
#include "tools/mksetup/mksetup.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

namespace mksetup {

namespace {

void Put16(Bytes* b, uint32_t v)
{
    b->push_back(uint8_t(v));
    b->push_back(uint8_t(v >> 8));
}

const int kStringsPerBlock = 16;
// The setup reads a page title into 128 bytes and a control's text into
// 256 before it expands them.
const size_t kCaptionLimit = 127;
const size_t kControlLimit = 255;

std::vector<std::u16string> DecodeStringBlock(const Bytes& data)
{
    std::vector<std::u16string> strings(kStringsPerBlock);
    size_t at = 0;
    for (int i = 0; i < kStringsPerBlock && at + 2 <= data.size(); ++i) {
        uint16_t length = Get16(data, at);
        at += 2;
        for (uint16_t k = 0; k < length && at + 2 <= data.size(); ++k, at += 2)
            strings[i] += char16_t(Get16(data, at));
    }
    return strings;
}

Bytes EncodeStringBlock(const std::vector<std::u16string>& strings)
{
    Bytes data;
    for (const std::u16string& s : strings) {
        Put16(&data, uint32_t(s.size()));
        for (char16_t c : s)
            Put16(&data, c);
    }
    return data;
}

// A dialog template read into the parts mksetup rewrites (the caption and
// the controls' texts) and the parts it copies as they are.
struct DialogItem {
    Bytes fixed;         // style, position, ID: 18 bytes (24 in the extended form)
    Bytes windowClass;   // ordinal or string, as stored
    bool titleIsText = false;
    std::u16string title;
    Bytes titleOrdinal;  // when the title is an ordinal (an icon's resource)
    Bytes extra;         // the creation data's count and bytes
};

struct Dialog {
    Bytes head;          // the fixed header
    Bytes menu, windowClass;
    std::u16string caption;
    Bytes font;          // point size (and weight, italic, character set) and face
    std::vector<DialogItem> items;
};

// Reads a "sz_Or_Ord" field: none, 0xFFFF and an ordinal, or a string.
bool ReadField(const Bytes& b, size_t* at, Bytes* raw, std::u16string* text, bool* isText)
{
    if (*at + 2 > b.size())
        return false;
    size_t start = *at;
    uint16_t first = Get16(b, *at);
    if (isText)
        *isText = first != 0xFFFF && first != 0;
    if (first == 0xFFFF) {
        *at += 4;
    } else {
        while (*at + 2 <= b.size() && Get16(b, *at) != 0) {
            if (text)
                *text += char16_t(Get16(b, *at));
            *at += 2;
        }
        *at += 2;
    }
    if (*at > b.size())
        return false;
    if (raw)
        raw->assign(b.begin() + start, b.begin() + *at);
    return true;
}

bool ParseDialog(const Bytes& b, Dialog* d)
{
    bool extended = b.size() >= 4 && Get16(b, 0) == 1 && Get16(b, 2) == 0xFFFF;
    size_t headSize = extended ? 26 : 18;
    if (b.size() < headSize)
        return false;
    uint32_t style = Get32(b, extended ? 12 : 0);
    uint16_t count = Get16(b, extended ? 16 : 8);
    d->head.assign(b.begin(), b.begin() + headSize);
    size_t at = headSize;
    if (!ReadField(b, &at, &d->menu, nullptr, nullptr) || !ReadField(b, &at, &d->windowClass, nullptr, nullptr) ||
        !ReadField(b, &at, nullptr, &d->caption, nullptr))
        return false;
    if (style & 0x40) {  // DS_SETFONT: size (weight, italic, character set) and face
        size_t fontStart = at;
        at += extended ? 6 : 2;
        if (!ReadField(b, &at, nullptr, nullptr, nullptr))
            return false;
        d->font.assign(b.begin() + fontStart, b.begin() + at);
    }
    size_t fixedSize = extended ? 24 : 18;
    for (uint16_t i = 0; i < count; ++i) {
        at = (at + 3) & ~size_t(3);
        if (at + fixedSize > b.size())
            return false;
        DialogItem item;
        item.fixed.assign(b.begin() + at, b.begin() + at + fixedSize);
        at += fixedSize;
        if (!ReadField(b, &at, &item.windowClass, nullptr, nullptr) ||
            !ReadField(b, &at, &item.titleOrdinal, &item.title, &item.titleIsText) || at + 2 > b.size())
            return false;
        size_t extraEnd = at + 2 + Get16(b, at);
        if (extraEnd > b.size())
            return false;
        item.extra.assign(b.begin() + at, b.begin() + extraEnd);
        at = extraEnd;
        d->items.push_back(item);
    }
    return true;
}

void PutText(Bytes* b, const std::u16string& text)
{
    for (char16_t c : text)
        Put16(b, c);
    Put16(b, 0);
}

Bytes WriteDialog(const Dialog& d)
{
    Bytes b = d.head;
    b.insert(b.end(), d.menu.begin(), d.menu.end());
    b.insert(b.end(), d.windowClass.begin(), d.windowClass.end());
    PutText(&b, d.caption);
    b.insert(b.end(), d.font.begin(), d.font.end());
    for (const DialogItem& item : d.items) {
        b.resize((b.size() + 3) & ~size_t(3));
        b.insert(b.end(), item.fixed.begin(), item.fixed.end());
        b.insert(b.end(), item.windowClass.begin(), item.windowClass.end());
        if (item.titleIsText)
            PutText(&b, item.title);
        else
            b.insert(b.end(), item.titleOrdinal.begin(), item.titleOrdinal.end());
        b.insert(b.end(), item.extra.begin(), item.extra.end());
    }
    return b;
}

// The description key behind a pack-time macro, for the messages.
std::string KeyOfMacro(const std::string& macro, Language language)
{
    static const char* const languages[] = {"English", "French", "Dutch"};
    if (macro == "Edition")
        return std::string(languages[language]) + ".Edition";
    if (macro == "HelpName")
        return std::string(languages[language]) + ".HelpFile";
    if (macro == "ExeName")
        return "Product.Program";
    if (macro == "AppCorvane")
        return "Product.StartMenuFolder";
    return "Product." + macro;
}

// Expands one text of a template; a text that the setup would now cut is
// reported against the first macro that made it longer.
std::u16string ExpandTemplateText(const std::u16string& text, size_t limit, const Description& d, Language language,
                                  const std::map<std::string, std::string>& macros, std::vector<std::string>* blamed,
                                  Problems* problems)
{
    std::string utf8 = Utf8FromUtf16(text);
    std::string expanded = ExpandKnownMacros(utf8, macros);
    if (expanded == utf8)
        return text;
    size_t n = CharacterCount(expanded);
    if (n > limit && CharacterCount(utf8) <= limit) {
        for (const std::string& name : MacroNames(utf8)) {
            if (!macros.count(name))
                continue;
            std::string key = KeyOfMacro(name, language);
            const Value* v = FindValue(d, key);
            // One line for a value, however many texts it makes too long.
            if (std::find(blamed->begin(), blamed->end(), key) != blamed->end())
                break;
            blamed->push_back(key);
            Origin origin = v ? v->origin : Origin{d.file, 0};
            problems->Add(origin, key.substr(key.find('.') + 1) + " makes the text \"" + utf8.substr(0, 50) +
                                      "\" " + std::to_string(n) + " characters long, the setup keeps " +
                                      std::to_string(limit),
                          "shorten it by " + std::to_string(n - limit) + " characters");
            break;
        }
    }
    return Utf16FromUtf8(expanded);
}

// A language file's key: a string's number, or a dialog template's
// number and its control's index (-1: the caption).
struct TextKey {
    bool dialog = false;
    int id = 0, item = -1;
};

bool ParseTextKey(const std::string& key, TextKey* k)
{
    size_t at = 0;
    k->dialog = !key.empty() && key[0] == 'D';
    at = k->dialog ? 1 : 0;
    auto number = [&](int* out) {
        size_t start = at;
        while (at < key.size() && key[at] >= '0' && key[at] <= '9' && at - start < 5)
            ++at;
        if (at == start)
            return false;
        *out = std::stoi(key.substr(start, at - start));
        return true;
    };
    if (!number(&k->id) || k->id > 0xFFFF)
        return false;
    if (k->dialog && at < key.size() && key[at] == '.') {
        ++at;
        if (!number(&k->item))
            return false;
    }
    return at == key.size() && (k->dialog || k->item < 0);
}

// The program's list of the languages it carries ("LANGUAGES", as
// setup/languages.h reads it), one "code id name" a line.
const uint16_t kRcDataType = 10;

struct ListedLanguage {
    std::string code, name;
    uint16_t id;
};

std::vector<ListedLanguage> ReadLanguageList(PeImage* image)
{
    std::vector<ListedLanguage> list;
    Resource* r = FindImageResource(image, ResourceById(kRcDataType), ResourceByName("LANGUAGES"));
    if (!r)
        return list;
    std::string text(r->data.begin(), r->data.end());
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        size_t a = line.find(' '), b = a == std::string::npos ? a : line.find(' ', a + 1);
        if (b == std::string::npos)
            continue;
        std::string name = line.substr(b + 1);
        while (!name.empty() && (name.back() == '\r' || name.back() == ' '))
            name.pop_back();
        list.push_back({line.substr(0, a), name, uint16_t(strtoul(line.substr(a + 1, b - a - 1).c_str(), nullptr, 0))});
    }
    return list;
}

void WriteLanguageList(PeImage* image, const std::vector<ListedLanguage>& list)
{
    std::string text;
    for (const ListedLanguage& l : list) {
        char id[8];
        snprintf(id, sizeof id, "0x%04X", l.id);
        text += l.code + " " + id + " " + l.name + "\n";
    }
    SetResource(image, ResourceById(kRcDataType), ResourceByName("LANGUAGES"), Bytes(text.begin(), text.end()));
}

// Every resource in a language the program is no longer to speak; its
// English ones stay, as the texts of last resort.
void DropLanguage(PeImage* image, uint16_t id)
{
    if (id == kEnglishLanguage)
        return;
    image->resources.erase(std::remove_if(image->resources.begin(), image->resources.end(),
                                          [id](const Resource& r) { return r.language == id; }),
                           image->resources.end());
}

bool IconDirectory(const Bytes& ico, uint16_t* count)
{
    if (ico.size() < 6 || Get16(ico, 0) != 0 || Get16(ico, 2) != 1 || Get16(ico, 4) == 0)
        return false;
    *count = Get16(ico, 4);
    if (6 + size_t(*count) * 16 > ico.size())
        return false;
    for (uint16_t i = 0; i < *count; ++i) {
        uint32_t size = Get32(ico, 6 + 16 * i + 8), offset = Get32(ico, 6 + 16 * i + 12);
        if (size == 0 || offset > ico.size() || size > ico.size() - offset)
            return false;
    }
    return true;
}

}  // namespace

StringInLanguage LanguageOfString(int id)
{
    if (id >= 8100 && id < 8300)
        return {id % 100 + 8000, LanguageId(static_cast<Language>(id / 100 - 80))};
    return {id, kEnglishLanguage};
}

bool CarriesLanguage(PeImage* image, uint16_t language)
{
    if (language == kEnglishLanguage || !FindImageResource(image, ResourceById(kRcDataType), ResourceByName("LANGUAGES")))
        return true;
    std::vector<ListedLanguage> list = ReadLanguageList(image);
    return std::any_of(list.begin(), list.end(), [&](const ListedLanguage& l) { return l.id == language; });
}

void SetStrings(PeImage* image, const StringTable& strings)
{
    // The texts of a language the setup does not carry are left out.
    std::map<uint16_t, bool> carried;
    for (int l = 0; l < LANGUAGE_COUNT; ++l)
        carried[LanguageId(static_cast<Language>(l))] = CarriesLanguage(image, LanguageId(static_cast<Language>(l)));
    std::map<std::pair<uint16_t, int>, std::vector<std::pair<int, std::string>>> byBlock;
    for (const auto& s : strings) {
        StringInLanguage at = LanguageOfString(s.first);
        if (!carried[at.language])
            continue;
        byBlock[{at.language, at.id / kStringsPerBlock + 1}].push_back({at.id, s.second});
    }
    for (const auto& block : byBlock) {
        uint16_t language = block.first.first;
        ResourceName name = ResourceById(uint16_t(block.first.second));
        Resource* existing = FindImageResource(image, ResourceById(RT_STRING_ID), name, language);
        std::vector<std::u16string> texts =
            existing ? DecodeStringBlock(existing->data) : std::vector<std::u16string>(kStringsPerBlock);
        for (const auto& s : block.second)
            texts[s.first % kStringsPerBlock] = Utf16FromUtf8(s.second);
        bool empty = std::all_of(texts.begin(), texts.end(), [](const std::u16string& t) { return t.empty(); });
        if (!existing && empty)
            continue;
        SetResource(image, ResourceById(RT_STRING_ID), name, EncodeStringBlock(texts), language);
    }
}

std::string GetString(const PeImage& image, int id, uint16_t language)
{
    for (const Resource& r : image.resources)
        if (r.type == ResourceById(RT_STRING_ID) && r.name == ResourceById(uint16_t(id / kStringsPerBlock + 1)) &&
            r.language == language)
            return Utf8FromUtf16(DecodeStringBlock(r.data)[id % kStringsPerBlock]);
    return "";
}

bool CarryLanguages(PeImage* image, LanguageTexts which, const Description& d, const std::string& program,
                    Problems* problems)
{
    // A program without the list (an uninstaller of the maker's own) is
    // left as it is.
    if (!FindImageResource(image, ResourceById(kRcDataType), ResourceByName("LANGUAGES")))
        return false;
    std::vector<ListedLanguage> list = ReadLanguageList(image);
    // The languages of the program not asked for go, and a language a
    // file brings replaces the program's own.
    for (size_t i = 0; i < list.size();) {
        bool asked = d.carryAll || std::find(d.carryCodes.begin(), d.carryCodes.end(), Lower(list[i].code)) !=
                                       d.carryCodes.end();
        bool replaced = std::any_of(d.languages.begin(), d.languages.end(),
                                    [&](const LanguageFile& f) { return f.id == list[i].id; });
        if (asked && !replaced) {
            ++i;
            continue;
        }
        DropLanguage(image, list[i].id);
        list.erase(list.begin() + long(i));
    }
    for (const std::string& code : d.carryCodes) {
        bool own = std::any_of(list.begin(), list.end(), [&](const ListedLanguage& l) { return Lower(l.code) == code; });
        bool file = std::any_of(d.languages.begin(), d.languages.end(),
                                [&](const LanguageFile& f) { return Lower(f.code) == code; });
        if (!own && !file && which == SETUP_TEXTS && code != "en")
            problems->Add(FindValue(d, "Languages.Carry")->origin,
                          code + " is neither a language of the setup program nor of a language file",
                          "write the code of a file in the kit's languages folder, or name your file under File");
    }
    if (d.languages.empty()) {
        WriteLanguageList(image, list);
        return true;
    }

    // English's file names the texts by their keys: each must be the
    // program's own, or the keys would put a translation on another text.
    const std::map<std::string, std::string>& english = d.english.texts[which];
    std::map<int, Dialog> dialogs;
    for (const Resource& r : image->resources)
        if (r.type == ResourceById(RT_DIALOG_ID) && r.name.name.empty() && r.language == kEnglishLanguage) {
            Dialog parsed;
            if (ParseDialog(r.data, &parsed))
                dialogs[r.name.id] = parsed;
        }
    for (const auto& e : english) {
        TextKey k;
        std::u16string own;
        bool found = ParseTextKey(e.first, &k);
        if (found && !k.dialog)
            own = Utf16FromUtf8(GetString(*image, k.id));
        else if (found && (found = dialogs.count(k.id) > 0)) {
            const Dialog& dialog = dialogs[k.id];
            found = k.item < int(dialog.items.size());
            if (found)
                own = k.item < 0 ? dialog.caption : dialog.items[size_t(k.item)].title;
        }
        if (!found || own != Utf16FromUtf8(e.second)) {
            problems->Add(Origin{d.english.path, d.english.lines[which].at(e.first)},
                          e.first + " is not the text of " + program + " it names (" +
                              (found ? "\"" + Utf8FromUtf16(own).substr(0, 40) + "\"" : "no such text") + ")",
                          "use the languages folder that came with " + program);
            return true;
        }
    }

    for (const LanguageFile& file : d.languages) {
        StringTable strings;
        std::map<int, Dialog> translated;
        for (const auto& t : file.texts[which]) {
            TextKey k;
            if (!ParseTextKey(t.first, &k))
                continue;
            if (!k.dialog) {
                strings[k.id] = t.second;
                continue;
            }
            if (!translated.count(k.id))
                translated[k.id] = dialogs[k.id];
            Dialog& dialog = translated[k.id];
            if (k.item < 0)
                dialog.caption = Utf16FromUtf8(t.second);
            else {
                dialog.items[size_t(k.item)].title = Utf16FromUtf8(t.second);
                dialog.items[size_t(k.item)].titleIsText = true;
            }
        }
        if (which == SETUP_TEXTS)
            for (const auto& p : file.product)
                strings[p.first] = p.second;
        std::map<int, std::vector<std::u16string>> blocks;
        for (const auto& s : strings) {
            std::vector<std::u16string>& block = blocks[s.first / kStringsPerBlock + 1];
            block.resize(kStringsPerBlock);
            block[size_t(s.first % kStringsPerBlock)] = Utf16FromUtf8(s.second);
        }
        for (const auto& block : blocks)
            SetResource(image, ResourceById(RT_STRING_ID), ResourceById(uint16_t(block.first)),
                        EncodeStringBlock(block.second), file.id);
        for (const auto& dialog : translated)
            SetResource(image, ResourceById(RT_DIALOG_ID), ResourceById(uint16_t(dialog.first)),
                        WriteDialog(dialog.second), file.id);
        list.push_back({file.code, file.name, file.id});
    }
    WriteLanguageList(image, list);
    return true;
}

void ExpandDialogTemplates(PeImage* image, const Description& d, Problems* problems)
{
    std::vector<std::string> blamed;
    for (Resource& r : image->resources) {
        if (!(r.type == ResourceById(RT_DIALOG_ID)) || !r.name.name.empty())
            continue;
        // The product's texts of a language the description has no
        // section for are its English ones.
        Language language = DescriptionLanguage(r.language);
        const std::map<std::string, std::string>* macros = &d.macros[language];
        for (const LanguageFile& file : d.languages)
            if (file.id == r.language && !file.macros.empty())
                macros = &file.macros;
        Dialog dialog;
        if (!ParseDialog(r.data, &dialog)) {
            problems->Add(Origin(), "dialog template " + std::to_string(r.name.id) + " of the payload-free setup "
                                    "program is damaged",
                          "use the payload-free setup program that came with mksetup");
            continue;
        }
        dialog.caption = ExpandTemplateText(dialog.caption, kCaptionLimit, d, language, *macros, &blamed, problems);
        for (DialogItem& item : dialog.items)
            if (item.titleIsText)
                item.title = ExpandTemplateText(item.title, kControlLimit, d, language, *macros, &blamed, problems);
        r.data = WriteDialog(dialog);
    }
}

bool CheckArt(const Bytes& file, int id, std::string* error)
{
    if (id == 0) {
        uint16_t count = 0;
        if (!IconDirectory(file, &count)) {
            *error = "is not an icon file (.ico)";
            return false;
        }
        return true;
    }
    // The page painter places the bitmaps by these sizes.
    int wantWidth = id == 960 ? 125 : id == 961 ? 109 : 136;
    int wantHeight = id == 960 ? 68 : id == 961 ? 59 : 30;
    if (file.size() < 26 || file[0] != 'B' || file[1] != 'M') {
        *error = "is not a bitmap file (.bmp)";
        return false;
    }
    uint32_t header = Get32(file, 14);
    long width, height;
    if (header == 12) {
        width = Get16(file, 18);
        height = Get16(file, 20);
    } else if (header >= 40 && file.size() >= 26) {
        width = long(int32_t(Get32(file, 18)));
        height = std::labs(long(int32_t(Get32(file, 22))));
    } else {
        *error = "is not a bitmap file (.bmp)";
        return false;
    }
    if (width != wantWidth || height != wantHeight) {
        *error = "is " + std::to_string(width) + " x " + std::to_string(height) + " pixels, the page needs " +
                 std::to_string(wantWidth) + " x " + std::to_string(wantHeight);
        return false;
    }
    return true;
}

void SetArt(PeImage* image, int id, const Bytes& file)
{
    if (id != 0) {
        // A bitmap resource is the file without its 14-byte file header.
        SetResource(image, ResourceById(RT_BITMAP_ID), ResourceById(uint16_t(id)), Bytes(file.begin() + 14, file.end()));
        return;
    }
    uint16_t count = 0;
    IconDirectory(file, &count);
    // The images of the old icon group 1 go; the new ones take IDs after
    // the highest in use.
    if (Resource* group = FindImageResource(image, ResourceById(RT_GROUP_ICON_ID), ResourceById(1))) {
        for (size_t at = 6; at + 14 <= group->data.size(); at += 14) {
            uint16_t old = Get16(group->data, at + 12);
            image->resources.erase(std::remove_if(image->resources.begin(), image->resources.end(),
                                                  [&](const Resource& r) {
                                                      return r.type == ResourceById(RT_ICON_ID) &&
                                                             r.name == ResourceById(old);
                                                  }),
                                   image->resources.end());
        }
    }
    uint16_t next = 1;
    for (const Resource& r : image->resources)
        if (r.type == ResourceById(RT_ICON_ID) && r.name.name.empty())
            next = std::max<uint16_t>(next, uint16_t(r.name.id + 1));
    Bytes group(file.begin(), file.begin() + 6);
    for (uint16_t i = 0; i < count; ++i) {
        size_t entry = 6 + 16 * size_t(i);
        uint32_t size = Get32(file, entry + 8), offset = Get32(file, entry + 12);
        SetResource(image, ResourceById(RT_ICON_ID), ResourceById(uint16_t(next + i)),
                    Bytes(file.begin() + offset, file.begin() + offset + size));
        group.insert(group.end(), file.begin() + entry, file.begin() + entry + 12);
        Put16(&group, next + i);
    }
    SetResource(image, ResourceById(RT_GROUP_ICON_ID), ResourceById(1), group);
}

}  // namespace mksetup
