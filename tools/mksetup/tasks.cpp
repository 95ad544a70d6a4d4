// The product's optional tasks: the [Tasks] section's Task lines, each
// "name | checked or unchecked | text [| French text | Dutch text]",
// written as strings 5700 on ("name", a tab, 1 or 0) with their texts in
// strings 8030 on (8130 French, 8230 Dutch); and the "task=name" field
// that ends a link, registry value, file type or PATH folder that only
// the chosen task makes.
#include "tools/mksetup/mksetup.h"

namespace mksetup {

namespace {

const size_t kMostTasks = 8;

bool IsTaskName(const std::string& name)
{
    if (name.empty() || name.size() > 32)
        return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

}  // namespace

void CheckTasks(Description* d, Problems* problems)
{
    if (d->tasks.size() > kMostTasks)
        problems->Add(d->tasks[kMostTasks].origin, "more than " + std::to_string(kMostTasks) + " Task lines in [Tasks]",
                      "keep at most " + std::to_string(kMostTasks) + " tasks");
    for (size_t i = 0; i < d->tasks.size() && i < kMostTasks; ++i) {
        const Value& v = d->tasks[i];
        std::vector<std::string> f;
        std::string state = "";
        if (SplitFields(v.text, &f) && f.size() >= 3 && f.size() <= 5)
            state = Lower(f[1]);
        if ((state != "checked" && state != "unchecked") || !IsTaskName(f[0])) {
            problems->Add(v.origin, "a task is written as name | checked or unchecked | text [| French | Dutch]",
                          "write, for example, Task = desktop | checked | Create a desktop link (a name of letters "
                          "and digits)");
            continue;
        }
        if (d->taskNames.count(Lower(f[0]))) {
            problems->Add(v.origin, "the task " + f[0] + " is written twice", "keep one of the two lines");
            continue;
        }
        d->taskNames.insert(Lower(f[0]));
        d->strings[5700 + int(i)] = Lower(f[0]) + "\t" + (state == "checked" ? "1" : "0");
        for (int l = 0; l < LANGUAGE_COUNT; ++l) {
            std::string text = size_t(2 + l) < f.size() && !f[2 + l].empty() ? f[2 + l] : f[2];
            std::map<std::string, std::string> macros = d->macros[l];
            text = ExpandKnownMacros(text, macros);
            if (text.empty() || CharacterCount(text) > 100 || text.find_first_of("{}") != std::string::npos) {
                problems->Add(v.origin, "the task's text \"" + text + "\" is empty, too long or holds an unknown macro",
                              "write at most 100 characters; {AppName} and the other names may be used");
                break;
            }
            d->strings[8030 + 100 * l + int(i)] = text;
        }
    }
}

bool TakeTask(const Description& d, std::vector<std::string>* fields, const Value& v, std::string* task,
              Problems* problems)
{
    task->clear();
    if (fields->empty() || Lower(fields->back()).compare(0, 5, "task=") != 0)
        return true;
    *task = Lower(fields->back().substr(5));
    fields->pop_back();
    if (!d.taskNames.count(*task)) {
        problems->Add(v.origin, "the task \"" + *task + "\" is not one of [Tasks]",
                      "name a task of [Tasks], or leave task= out");
        return false;
    }
    return true;
}

}  // namespace mksetup
