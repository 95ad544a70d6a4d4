// The product's optional tasks (strings 5700 on: a name and whether it is
// chosen unless the user says otherwise; their texts 8030 on): which are
// chosen for this run, from the defaults, the earlier installation's
// choice, /TASKS= or the tasks page; and whether a line of the product's
// links, values, file types and PATH folders is made.
#include "setup/setup.h"
#include "setup/wide.h"

#include <string.h>

namespace {

const int kFirstTaskString = 5700;

// The task's name and default of line i; false past the last task.
bool ReadTask(int i, Text& name, bool* checked)
{
    if (i >= kMostTasks)
        return false;
    Text line = LoadStringAsText(kFirstTaskString + i);
    const char* tab = strchr(line.c_str(), '\t');
    if (!tab)
        return false;
    name.Assign(line.c_str(), static_cast<size_t>(tab - line.c_str()));
    *checked = tab[1] == '1';
    return true;
}

bool Listed(const char* list, const char* name)
{
    size_t n = strlen(name);
    for (const char* p = list; *p;) {
        const char* comma = strchr(p, ',');
        size_t length = comma ? static_cast<size_t>(comma - p) : strlen(p);
        if (length == n && _strnicmp(p, name, n) == 0)
            return true;
        p += length + (comma ? 1 : 0);
    }
    return false;
}

} // namespace

int TaskCount()
{
    Text name;
    bool checked;
    int n = 0;
    while (ReadTask(n, name, &checked))
        ++n;
    return n;
}

Text TaskName(int i)
{
    Text name;
    bool checked;
    ReadTask(i, name, &checked);
    return name;
}

void ChooseDefaultTasks(const char* earlierChoice)
{
    Context.ChosenTasks.Clear();
    Text name;
    bool checked;
    for (int i = 0; ReadTask(i, name, &checked); ++i)
        if (earlierChoice ? Listed(earlierChoice, name.c_str()) : checked)
            Context.ChosenTasks.Add(name.c_str());
}

bool UnknownTask(const char* list, Text& unknown)
{
    for (const char* p = list; *p;) {
        const char* comma = strchr(p, ',');
        size_t length = comma ? static_cast<size_t>(comma - p) : strlen(p);
        Text name;
        name.Assign(p, length);
        bool known = false;
        for (int i = 0; i < TaskCount() && !known; ++i)
            known = SameTextNoCase(TaskName(i).c_str(), name.c_str());
        if (!known && length > 0) {
            unknown = name;
            return true;
        }
        p += length + (comma ? 1 : 0);
    }
    return false;
}

void ChooseTasks(const char* list)
{
    Context.ChosenTasks.Clear();
    for (int i = 0; i < TaskCount(); ++i)
        if (Listed(list, TaskName(i).c_str()))
            Context.ChosenTasks.Add(TaskName(i).c_str());
}

bool TaskChosen(const char* name)
{
    if (!name[0])
        return true;
    for (size_t i = 0; i < Context.ChosenTasks.Count(); ++i)
        if (SameTextNoCase(Context.ChosenTasks.At(i), name))
            return true;
    return false;
}

Text ChosenTaskList()
{
    Text list;
    for (size_t i = 0; i < Context.ChosenTasks.Count(); ++i) {
        if (i)
            list.Append(',');
        list.Append(Context.ChosenTasks.At(i));
    }
    return list;
}
