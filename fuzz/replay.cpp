// Replays inputs through a fuzz target once, without a fuzzing engine: each
// argument is a file or a folder of files (the target's committed seeds),
// each file is handed to LLVMFuzzerTestOneInput whole. Built with the
// sanitizers, a replay catches what a change to a parser breaks in seconds;
// finding new inputs is fuzz/run.sh's work.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool ReadWhole(const std::string& path, std::vector<uint8_t>& data)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return false;
    data.clear();
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        data.insert(data.end(), buffer, buffer + n);
    bool ok = !ferror(file);
    fclose(file);
    return ok;
}

// The files an argument names, in a stable order.
bool Collect(const std::string& path, std::vector<std::string>& files)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return false;
    if (!S_ISDIR(info.st_mode)) {
        files.push_back(path);
        return true;
    }
    DIR* folder = opendir(path.c_str());
    if (!folder)
        return false;
    std::vector<std::string> found;
    while (dirent* entry = readdir(folder))
        if (entry->d_name[0] != '.')
            found.push_back(path + "/" + entry->d_name);
    closedir(folder);
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i)
        if (!Collect(argv[i], files)) {
            fprintf(stderr, "replay: cannot read %s\n", argv[i]);
            return 2;
        }
    if (files.empty()) {
        fprintf(stderr, "replay: no inputs\n");
        return 2;
    }
    std::vector<uint8_t> data;
    for (const std::string& file : files) {
        if (!ReadWhole(file, data)) {
            fprintf(stderr, "replay: cannot read %s\n", file.c_str());
            return 2;
        }
        // An empty vector has no data(): the target still gets a valid
        // pointer, as libFuzzer gives one.
        static const uint8_t kNothing = 0;
        LLVMFuzzerTestOneInput(data.empty() ? &kNothing : data.data(), data.size());
    }
    printf("replay: %zu inputs, none failed\n", files.size());
    return 0;
}
