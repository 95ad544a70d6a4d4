// cvzb: the maker's packer for the setup program's compressed single-file
// containers ("CVZB" resources such as the uninstaller and the
// common-controls update package), and the matching unpacker for checks.
//
//   cvzb pack INPUT OUTPUT     writes a container holding INPUT
//   cvzb unpack INPUT OUTPUT   writes the file held by container INPUT
//
// Exit codes: 0 done, 1 bad input or a file that could not be read or
// written, 2 wrong usage.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cab/container_format.h"

namespace {

enum { EXIT_DONE = 0, EXIT_BAD_INPUT = 1, EXIT_USAGE = 2 };

// Containers carry a 32-bit length, and the decoder adds a little slack.
const uint64_t LargestInput = UINT32_MAX - 16;

void PrintUsage()
{
    fputs("usage: cvzb pack INPUT OUTPUT\n"
          "       cvzb unpack INPUT OUTPUT\n",
          stderr);
}

// Reads a whole file into a malloc'd buffer. Fails for files of 4 GiB or
// more, which no container can carry.
bool ReadWholeFile(const char* path, unsigned char** data, uint32_t* size)
{
    *data = nullptr;
    *size = 0;
    FILE* file = fopen(path, "rb");
    if (!file) {
        fprintf(stderr, "cvzb: cannot open %s\n", path);
        return false;
    }
    size_t capacity = 0;
    size_t used = 0;
    unsigned char* buffer = nullptr;
    bool ok = true;
    for (;;) {
        if (used == capacity) {
            size_t grown = capacity ? capacity * 2 : 65536;
            if (grown > LargestInput + 1)
                grown = static_cast<size_t>(LargestInput + 1);
            if (grown <= capacity) {
                fprintf(stderr, "cvzb: %s is too large for a container (4 GiB at most)\n", path);
                ok = false;
                break;
            }
            unsigned char* larger = static_cast<unsigned char*>(realloc(buffer, grown));
            if (!larger) {
                fprintf(stderr, "cvzb: not enough memory to read %s\n", path);
                ok = false;
                break;
            }
            buffer = larger;
            capacity = grown;
        }
        size_t n = fread(buffer + used, 1, capacity - used, file);
        used += n;
        if (n == 0) {
            if (ferror(file)) {
                fprintf(stderr, "cvzb: cannot read %s\n", path);
                ok = false;
            }
            break;
        }
    }
    fclose(file);
    if (ok && used > LargestInput) {
        fprintf(stderr, "cvzb: %s is too large for a container (4 GiB at most)\n", path);
        ok = false;
    }
    if (!ok) {
        free(buffer);
        return false;
    }
    *data = buffer;
    *size = static_cast<uint32_t>(used);
    return true;
}

// Writes the whole buffer. A file that could not be written completely is
// removed so that no half container or half program is left behind.
bool WriteWholeFile(const char* path, const unsigned char* bytes, size_t size)
{
    FILE* file = fopen(path, "wb");
    if (!file) {
        fprintf(stderr, "cvzb: cannot create %s\n", path);
        return false;
    }
    bool ok = fwrite(bytes, 1, size, file) == size;
    if (fclose(file) != 0)
        ok = false;
    if (!ok) {
        fprintf(stderr, "cvzb: cannot write %s\n", path);
        remove(path);
    }
    return ok;
}

int Pack(const char* input, const char* output)
{
    unsigned char* data = nullptr;
    uint32_t size = 0;
    if (!ReadWholeFile(input, &data, &size))
        return EXIT_BAD_INPUT;
    uint32_t containerSize = 0;
    unsigned char* container = EncodeContainer(data, size, &containerSize);
    free(data);
    if (!container) {
        fprintf(stderr, "cvzb: not enough memory to pack %s\n", input);
        return EXIT_BAD_INPUT;
    }
    bool ok = WriteWholeFile(output, container, containerSize);
    free(container);
    return ok ? EXIT_DONE : EXIT_BAD_INPUT;
}

int Unpack(const char* input, const char* output)
{
    unsigned char* container = nullptr;
    uint32_t size = 0;
    if (!ReadWholeFile(input, &container, &size))
        return EXIT_BAD_INPUT;
    unsigned char* data = nullptr;
    uint32_t length = 0;
    ContainerResult result = DecodeContainer(container, size, &data, &length);
    free(container);
    if (result != CONTAINER_OK) {
        fprintf(stderr, "cvzb: %s: %s\n", input, ContainerResultText(result));
        return EXIT_BAD_INPUT;
    }
    bool ok = WriteWholeFile(output, data, length);
    free(data);
    return ok ? EXIT_DONE : EXIT_BAD_INPUT;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        PrintUsage();
        return EXIT_USAGE;
    }
    if (strcmp(argv[1], "pack") == 0)
        return Pack(argv[2], argv[3]);
    if (strcmp(argv[1], "unpack") == 0)
        return Unpack(argv[2], argv[3]);
    fprintf(stderr, "cvzb: unknown command \"%s\"\n", argv[1]);
    PrintUsage();
    return EXIT_USAGE;
}
