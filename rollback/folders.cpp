// The folders a run makes for its files, each one recorded in the
// session's journal before it is made, so that a run that does not end
// well removes the folders it made, and only those.
#include "rollback/rollback.h"
#include "setup/wide.h"

#include <string.h>

namespace {

// Makes (or records ahead) each missing part of path with make, going down
// from the deepest part that is there; 0 when a part cannot be made.
int MakeFolderTree(const char* path, bool (*make)(RunJournal&, const char*))
{
    char copy[kPathBytes];
    if (strlen(path) <= 2)
        return 0;
    // A path that does not fit is refused: cut, it would name another folder.
    if (WideLength(path) >= MAX_PATH || !CopyBounded(copy, sizeof copy, path))
        return 0;
    // Wildcards would let the look-up find some other entry and take the
    // folder for existing; no folder name can hold them anyway.
    if (strpbrk(copy, "*?"))
        return 0;
    size_t length = strlen(copy);
    if (copy[length - 1] == '\\')
        copy[--length] = '\0';

    // The deepest part that exists is found going up, then what is missing
    // is made going down: a folder that is there already costs one look,
    // not one per part of its path. The first two characters (a drive)
    // are never a folder of their own.
    size_t existing = 0;
    for (size_t i = length; i > 2; --i) {
        if (copy[i] != '\\' && copy[i] != '\0')
            continue;
        char saved = copy[i];
        copy[i] = '\0';
        DWORD attributes = GetFileAttributesU(copy);
        copy[i] = saved;
        if (attributes == INVALID_FILE_ATTRIBUTES)
            continue;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return 0; // an existing file blocks the path
        existing = i;
        break;
    }
    for (size_t i = existing + 1; i <= length; ++i) {
        if ((copy[i] != '\\' && copy[i] != '\0') || i <= 2)
            continue;
        char saved = copy[i];
        copy[i] = '\0';
        bool made = make(SessionJournal, copy);
        copy[i] = saved;
        if (!made)
            return 0;
    }
    return 1;
}

} // namespace

int CreateFolderTree(const char* path) { return MakeFolderTree(path, RecordedCreateFolder); }

namespace {

bool RecordCheckedFolderAhead(RunJournal& journal, const char* folder)
{
    return !RefuseLink(journal, folder) && RecordFolderAhead(journal, folder);
}

} // namespace

int RecordFolderTreeAhead(const char* path) { return MakeFolderTree(path, RecordCheckedFolderAhead); }

int CreateParentFolders(const char* filePath, char* knownFolder)
{
    // A file path that does not fit is refused, as its folder would be.
    char folder[kPathBytes];
    if (WideLength(filePath) >= MAX_PATH || !CopyBounded(folder, sizeof folder, filePath))
        return 0;
    // A backslash in the first place alone leaves no folder to create.
    char* slash = strrchr(folder, '\\');
    if (!slash || slash == folder)
        return 0;
    *slash = '\0';
    if (knownFolder && _stricmp(folder, knownFolder) == 0)
        return 1;
    if (knownFolder)
        knownFolder[0] = '\0';
    int made = CreateFolderTree(folder);
    if (made && knownFolder)
        CopyBounded(knownFolder, kPathBytes, folder);
    return made;
}
