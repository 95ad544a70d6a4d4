// The compressed single-file container ("CVZB" magic, uncompressed length,
// one zlib stream): the checks and the in-memory decoding shared by the
// setup program's UnpackContainer and the maker's cvzb tool. No platform
// calls here, so the same code builds natively and for Windows.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum {
    CONTAINER_HEADER_SIZE = 8,
    // deflate emits at most 258 bytes for every 2 bits of input, so no
    // stream can inflate to more than this many bytes per input byte.
    CONTAINER_MAX_RATIO = 1032,
};

enum ContainerResult {
    CONTAINER_OK = 0,
    CONTAINER_TOO_SHORT,   // fewer than 8 bytes
    CONTAINER_BAD_MAGIC,   // not "CVZB" in any letter case
    CONTAINER_BAD_LENGTH,  // the length field cannot belong to the stream
    CONTAINER_NO_MEMORY,
    CONTAINER_BAD_STREAM,  // a damaged zlib stream, or one that inflates past the length field
};

// Checks the header of a container of size bytes and reads its length
// field. A length that would wrap around when the decoder adds its slack,
// or that the stream could never inflate to, is refused here, before
// anything is allocated.
ContainerResult ReadContainerHeader(const void* data, uint32_t size, uint32_t* length);

// Decodes a whole container in memory. On CONTAINER_OK *out holds
// *outLength bytes allocated with malloc (the caller frees it); on any
// other result *out is null.
ContainerResult DecodeContainer(const void* data, uint32_t size, unsigned char** out, uint32_t* outLength);

// Writes the 8-byte header of a container for length uncompressed bytes.
void WriteContainerHeader(unsigned char header[CONTAINER_HEADER_SIZE], uint32_t length);

// Packs size bytes into a container (zlib's default level, whose stream
// header is 0x78 0x9C). Returns a malloc'd container of *containerSize
// bytes, or null when there is not enough memory. For the maker's tools
// only (container_encoder.cpp): the setup program never packs.
unsigned char* EncodeContainer(const void* data, uint32_t size, uint32_t* containerSize);

// A short English explanation of a result, for the maker's tools.
const char* ContainerResultText(ContainerResult result);
