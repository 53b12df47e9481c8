// The template file container (magic "VOZAZ"). A template file is stored plain,
// as a version-1 pack (one file under a byte-wise additive pattern) or as a
// version-2 pack (one file under AES-128-ECB with a key rebuilt from the
// header). These classes stand in the global namespace.
//
// Reading pattern used by every loader:
//     FileCodec codec(FileCodec::getFileCodecVersion(path));
//     if (codec.decodePack(path)) use(codec.content.data(), codec.size);
#pragma once

#include <cstdint>
#include <string>

enum FileCodecVersion : int32_t {
    FileCodecVersionPlain = 0,
    FileCodecVersion1 = 1,
    FileCodecVersion2 = 2,
};

class FileCodec {
public:
    explicit FileCodec(FileCodecVersion version);

    // 0 (plain) or 1 (version-1 pack); 1 for a path that cannot be opened, so
    // that decoding it fails. Never 2: version-2 packs are read only by a codec
    // constructed for version 2.
    static FileCodecVersion getFileCodecVersion(const std::string& path);

    // Fills content and size. A plain file always succeeds (a missing one gives
    // empty content).
    bool decodePack(const std::string& path);
    // Packs folder/fileName into outputPath in this codec's version (1 or 2).
    bool createPack(const std::string& folder, const std::string& fileName, const std::string& outputPath);
    // Writes size bytes of content to outputPath; false when size is 0 or the
    // file cannot be created or written.
    bool unpack(const std::string& outputPath);

    FileCodecVersion getVersion() const { return version; }

    FileCodecVersion version;
    std::string content;  // decoded bytes; may hold more than size bytes
    uint64_t size = 0;    // count of meaningful bytes of content
};

// Version-1 reader.
class Decoder {
public:
    // 1 when the file starts with "VOZAZ\0" and a count >= 1 at offset 8, or
    // cannot be opened; otherwise 0.
    static int validatePack(const std::string& path);

    bool decodePack(const std::string& path, std::string& content, uint64_t& size);
    bool decodePack(const std::string& path);
    bool unpack(const std::string& outputPath);

    unsigned char header[16] = {};
    unsigned char entry[60] = {};
    uint8_t key = 0;
    std::string content;
    uint64_t size = 0;
};

// Version-1 writer.
class Encoder {
public:
    // Laid out exactly as the 60-byte entry record of the file.
    struct PackFileEntry {
        char name[50];
        uint32_t size;
        uint32_t offset;
    };

    Encoder() {}
    ~Encoder() {}

    // Fills entry from folder/fileName (name bytes, file length, offset 0);
    // false when the file cannot be opened.
    bool createEntry(const std::string& folder, const std::string& fileName, PackFileEntry& entry);
    // False when the file is missing from the folder, cannot be read, or the
    // output cannot be created or written.
    bool createPack(const std::string& folder, const std::string& fileName, const std::string& outputPath);

    unsigned char header[16] = {};
    uint8_t key = 0;
};

// Version-2 reader and writer, plus the chunked variant keyed by a caller's text.
class FileAES {
public:
    bool createPack(const std::string& folder, const std::string& fileName, const std::string& outputPath);
    bool decodePack(const std::string& path, std::string& content, uint64_t& size);
    bool decodePack(const std::string& path);

    // Chunked variant: every whole 160 bytes of the input becomes a 5-byte
    // length field and 176 encrypted bytes; the tail is copied plain. The flag
    // has no effect.
    bool createPack(const std::string& inputPath, const std::string& outputPath, const std::string& keyText,
                    bool flag);
    bool decodePack(const std::string& inputPath, const std::string& outputPath, const std::string& keyText);

    std::string content;
    uint64_t size = 0;
};
