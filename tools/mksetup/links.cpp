// The product's own links: the [Links] section's Link lines, each
// "name | where | target [| arguments | icon file,index | description |
// working folder]", checked here and written as strings 5300 on in the
// form the setup reads (the fields separated by tabs). Without the section
// the setup makes the three links it always made.
#include "tools/mksetup/mksetup.h"

#include <string.h>

#include <algorithm>

namespace mksetup {

namespace {

const size_t kMostLinks = 16;  // strings 5300 to 5315
const char* const kPlaces[] = {"StartMenu", "StartMenuTop", "Desktop", "Startup"};
// The target that names the uninstaller rather than a file of the product.
const char kUninstallerTarget[] = "{Uninstaller}";

// Every macro in text is one the setup expands; false names the first
// that is not.
bool SetupMacrosOnly(const std::string& text, std::string* unknown)
{
    for (const std::string& name : MacroNames(text))
        if (!IsSetupMacro(name)) {
            *unknown = name;
            return false;
        }
    return true;
}

}  // namespace

void CheckLinks(Description* d, Problems* problems)
{
    if (d->links.size() > kMostLinks)
        problems->Add(d->links[kMostLinks].origin, "more than " + std::to_string(kMostLinks) + " Link lines in [Links]",
                      "keep at most " + std::to_string(kMostLinks) + " links");
    std::map<std::string, std::string> makerMacros;
    for (const auto& macro : d->macros[ENGLISH])
        if (!IsSetupMacro(macro.first))
            makerMacros[macro.first] = macro.second;
    std::map<std::string, int> seen;
    for (size_t i = 0; i < d->links.size() && i < kMostLinks; ++i) {
        const Value& v = d->links[i];
        std::vector<std::string> f;
        std::string task;
        bool split = SplitFields(v.text, &f);
        if (split && !TakeTask(*d, &f, v, &task, problems))
            continue;
        if (!split || f.size() < 3 || f.size() > 7) {
            problems->Add(v.origin, "a link is written as name | where | target [| arguments | icon | description | "
                                    "working folder]",
                          "write, for example, Link = {AppName} | Desktop | Ledger.exe");
            continue;
        }
        f.resize(7);
        for (std::string& field : f)
            field = ExpandKnownMacros(field, makerMacros);
        std::string& name = f[0];
        std::string place, unknown;
        for (const char* p : kPlaces)
            if (Lower(f[1]) == Lower(p))
                place = p;
        if (name.empty() || HasControl(name) || name.find_first_of("\\/:*?\"<>|") != std::string::npos ||
            CharacterCount(name) > 100) {
            problems->Add(v.origin, "the link's name \"" + name + "\" is not a file name",
                          "write a name of at most 100 characters without \\ / : * ? \" < > | (.lnk is added)");
            continue;
        }
        if (place.empty()) {
            problems->Add(v.origin, "unknown place \"" + f[1] + "\" for a link",
                          "write StartMenu (the product's Start-menu folder), StartMenuTop, Desktop or Startup");
            continue;
        }
        std::string target = f[2];
        bool uninstaller = Lower(target) == Lower(kUninstallerTarget);
        if (!uninstaller && !HasMainFile(*d, target)) {
            problems->Add(v.origin, "the link's target " + target + " is not a file of the main folder",
                          "name a file of [Files] Main (sub-folders with \\), or {Uninstaller}");
            continue;
        }
        // A program the link starts is one of the product's programs.
        if (!uninstaller && target.size() > 4 && Lower(target.substr(target.size() - 4)) == ".exe")
            CheckProgramArchitecture(*d, target, v, problems);
        std::string icon = f[4], iconIndex = "0";
        if (!icon.empty()) {
            size_t comma = icon.rfind(',');
            if (comma != std::string::npos) {
                iconIndex = icon.substr(comma + 1);
                icon = icon.substr(0, comma);
            }
            if (iconIndex.empty() || iconIndex.size() > 6 ||
                iconIndex.find_first_not_of("-0123456789", iconIndex[0] == '-' ? 1 : 0) != std::string::npos ||
                !HasMainFile(*d, icon)) {
                problems->Add(v.origin, "the link's icon " + f[4] + " is not a file of the main folder with an index",
                              "write file,index, such as Ledger.exe,0");
                continue;
            }
        }
        bool bad = false;
        for (int k : {3, 5, 6}) {
            if (HasControl(f[k]) || CharacterCount(f[k]) > 255 || !SetupMacrosOnly(f[k], &unknown)) {
                problems->Add(v.origin, "the link's " + std::string(k == 3 ? "arguments" : k == 5 ? "description" : "working folder") +
                                            " hold a control character, an unknown macro" +
                                            (unknown.empty() ? std::string() : " {" + unknown + "}") +
                                            " or more than 255 characters",
                              "use the setup's macros only, such as {TargetDir}");
                bad = true;
                break;
            }
        }
        if (bad)
            continue;
        if (!SetupMacrosOnly(name, &unknown)) {
            problems->Add(v.origin, "{" + unknown + "} in the link's name is not a macro the setup knows",
                          "use {AppName}, {ProductName} or {Edition}");
            continue;
        }
        std::string id = Lower(place + "\\" + name);
        if (seen.count(id)) {
            problems->Add(v.origin, "the link \"" + name + "\" in " + place + " is written twice (first on line " +
                                        std::to_string(seen[id]) + ")",
                          "keep one of the two lines");
            continue;
        }
        seen[id] = v.origin.line;
        std::replace(target.begin(), target.end(), '/', '\\');
        std::replace(icon.begin(), icon.end(), '/', '\\');
        d->strings[5600 + int(i)] = task;
        d->strings[5300 + int(i)] = place + "\t" + name + "\t" + (uninstaller ? kUninstallerTarget : target) + "\t" +
                                    f[3] + "\t" + icon + "\t" + iconIndex + "\t" + f[5] + "\t" + f[6];
    }
}

}  // namespace mksetup
