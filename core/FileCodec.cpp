#include "core/FileCodec.h"

#include "core/FileManager.h"
#include "core/FileWriter.h"

#include <dirent.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

constexpr unsigned char kMagic[6] = {'V', 'O', 'Z', 'A', 'Z', '\0'};
constexpr size_t kV1HeaderSize = 16;
constexpr size_t kV1EntrySize = 60;
constexpr size_t kV1DataStart = kV1HeaderSize + kV1EntrySize;
constexpr size_t kV2HeaderSize = 28;
constexpr size_t kAesBlock = 16;
constexpr size_t kChunkPlain = 160;
constexpr size_t kChunkCipher = kChunkPlain + kAesBlock;  // PKCS#5 adds a whole block
constexpr size_t kChunkField = 5;
constexpr uint32_t kV2FormatVersion = 2;

static_assert(sizeof(Encoder::PackFileEntry) == kV1EntrySize, "entry record is 60 bytes in the file");

using Quorvane::Core::FileManager;
using Quorvane::Core::FileWriter;
using Quorvane::Core::InputFileStatus;

bool readWholeFile(const std::string& path, std::string& out) {
    return FileManager::readInput(path, out) == InputFileStatus::Ok;
}

bool hasMagic(const unsigned char* p) {
    return memcmp(p, kMagic, sizeof kMagic) == 0;
}

uint32_t readLE32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void writeLE32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// The version-1 pattern. Without the pattern flag every byte moves by
// allSign * k; with it, bytes whose index is a multiple of the modulus move by
// multSign * k and the others by the opposite. The entry record and the data
// use opposite senses (see the callers).
void applyPattern(unsigned char* p, size_t n, uint8_t k, bool pattern, int modulus, int allSign,
                  int multSign) {
    if (!pattern) {
        uint8_t d = static_cast<uint8_t>(allSign * k);
        for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(p[i] + d);
        return;
    }
    uint8_t onMultiple = static_cast<uint8_t>(multSign * k);
    uint8_t onOther = static_cast<uint8_t>(-multSign * k);
    size_t m = static_cast<size_t>(modulus);
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(p[i] + (i % m == 0 ? onMultiple : onOther));
}

void scrambleEntry(unsigned char* p, uint8_t k, bool pattern, int modulus) {
    applyPattern(p, kV1EntrySize, k, pattern, modulus, -1, -1);
}
void unscrambleEntry(unsigned char* p, uint8_t k, bool pattern, int modulus) {
    applyPattern(p, kV1EntrySize, k, pattern, modulus, +1, +1);
}
void scrambleData(unsigned char* p, size_t n, uint8_t k, bool pattern, int modulus) {
    applyPattern(p, n, k, pattern, modulus, -1, +1);
}
void unscrambleData(unsigned char* p, size_t n, uint8_t k, bool pattern, int modulus) {
    applyPattern(p, n, k, pattern, modulus, +1, -1);
}

// AES-128-ECB over whole blocks; padding is handled by the callers so that the
// reader can check it the way stored packs need.
bool aes128Ecb(bool encrypt, const unsigned char key[16], const unsigned char* in, size_t length,
               unsigned char* out) {
    if (length % kAesBlock != 0 || length > static_cast<size_t>(INT32_MAX)) return false;
    if (length == 0) return true;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    if (!ctx) return false;
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, key, nullptr, encrypt ? 1 : 0) != 1)
        return false;
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    int produced = 0;
    if (EVP_CipherUpdate(ctx.get(), out, &produced, in, static_cast<int>(length)) != 1) return false;
    int tail = 0;
    if (EVP_CipherFinal_ex(ctx.get(), out + produced, &tail) != 1) return false;
    return static_cast<size_t>(produced + tail) == length;
}

// PKCS#5: 1 to 16 bytes, each holding the padding length.
std::string padBlock(const unsigned char* data, size_t length) {
    size_t pad = kAesBlock - length % kAesBlock;
    std::string out(reinterpret_cast<const char*>(data), length);
    out.append(pad, static_cast<char>(pad));
    return out;
}

// Decrypts a padded body and returns the length of the plain bytes in *plain;
// false when the body is not a positive multiple of the block or the final
// padding byte is outside 1 to 16.
bool decryptPadded(const unsigned char key[16], const unsigned char* in, size_t length, std::string& out,
                   size_t* plain) {
    if (length == 0 || length % kAesBlock != 0) return false;
    out.resize(length);
    if (!aes128Ecb(false, key, in, length, reinterpret_cast<unsigned char*>(&out[0]))) return false;
    size_t pad = static_cast<unsigned char>(out[length - 1]);
    if (pad < 1 || pad > kAesBlock) return false;
    *plain = length - pad;
    return true;
}

// The version-2 key is stored nowhere: it is rebuilt from the flag, the key
// material and the shift of the header.
void buildV2Key(const unsigned char* header, unsigned char key[16]) {
    uint8_t k = static_cast<uint8_t>(2 * header[23]);
    bool add = header[6] != 0;
    for (int i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(add ? header[7 + i] + k : header[7 + i] - k);
}

void buildChunkKey(const std::string& keyText, size_t chunk, unsigned char key[16]) {
    for (size_t i = 0; i < 16; ++i) {
        size_t at = 16 * chunk + i;
        key[i] = at < keyText.size() ? static_cast<unsigned char>(keyText[at]) : 0;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// FileCodec

FileCodec::FileCodec(FileCodecVersion version) : version(version) {}

FileCodecVersion FileCodec::getFileCodecVersion(const std::string& path) {
    return static_cast<FileCodecVersion>(Decoder::validatePack(path));
}

bool FileCodec::decodePack(const std::string& path) {
    content.clear();
    size = 0;
    switch (version) {
        case FileCodecVersion1: {
            Decoder decoder;
            return decoder.decodePack(path, content, size);
        }
        case FileCodecVersion2: {
            FileAES aes;
            return aes.decodePack(path, content, size);
        }
        case FileCodecVersionPlain: {
            // A missing plain file reads as empty, and still succeeds; one that
            // is no regular file or is too large is refused.
            InputFileStatus status = FileManager::readInput(path, content);
            size = content.size();
            return status == InputFileStatus::Ok || status == InputFileStatus::Missing;
        }
    }
    return false;
}

bool FileCodec::createPack(const std::string& folder, const std::string& fileName,
                           const std::string& outputPath) {
    switch (version) {
        case FileCodecVersion1: {
            Encoder encoder;
            return encoder.createPack(folder, fileName, outputPath);
        }
        case FileCodecVersion2: {
            FileAES aes;
            return aes.createPack(folder, fileName, outputPath);
        }
        default:
            return false;
    }
}

bool FileCodec::unpack(const std::string& outputPath) {
    if (size == 0) return false;
    size_t n = size < content.size() ? static_cast<size_t>(size) : content.size();
    return FileWriter::writeWhole(outputPath, content.data(), n);
}

// ---------------------------------------------------------------------------
// Decoder

int Decoder::validatePack(const std::string& path) {
    std::string text;
    // Unreadable paths count as packs so that decoding them fails instead of
    // yielding an empty plain file.
    if (FileManager::readInput(path, text, Quorvane::Core::kMaxInputFileBytes, kV1HeaderSize) !=
        InputFileStatus::Ok) {
        return 1;
    }
    if (text.size() < 12) return 0;
    const unsigned char* head = reinterpret_cast<const unsigned char*>(text.data());
    return hasMagic(head) && static_cast<int32_t>(readLE32(head + 8)) >= 1 ? 1 : 0;
}

bool Decoder::decodePack(const std::string& path, std::string& outContent, uint64_t& outSize) {
    outContent.clear();
    outSize = 0;
    std::string file;
    if (!readWholeFile(path, file)) return false;
    if (file.size() < kV1DataStart) return false;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(file.data());
    memcpy(header, bytes, kV1HeaderSize);
    if (!hasMagic(header) || static_cast<int32_t>(readLE32(header + 8)) < 1) return false;

    int modulus = static_cast<int8_t>(header[6]);
    bool pattern = header[12] != 0;
    key = static_cast<uint8_t>(2 * static_cast<int8_t>(header[13]));
    // The pattern divides by the modulus; the writer only stores 1 to 8.
    if (pattern && modulus <= 0) return false;

    memcpy(entry, bytes + kV1HeaderSize, kV1EntrySize);
    unscrambleEntry(entry, key, pattern, modulus);
    uint32_t entrySize = readLE32(entry + 52);
    size_t available = file.size() - kV1DataStart;
    // A size field beyond the bytes present is a truncated or forged pack.
    if (entrySize > available) return false;

    outContent.assign(file, kV1DataStart, std::string::npos);
    if (!outContent.empty()) {
        unscrambleData(reinterpret_cast<unsigned char*>(&outContent[0]), entrySize, key, pattern, modulus);
    }
    outSize = entrySize;
    return true;
}

bool Decoder::decodePack(const std::string& path) {
    return decodePack(path, content, size);
}

bool Decoder::unpack(const std::string& outputPath) {
    if (size == 0) return false;
    size_t n = size < content.size() ? static_cast<size_t>(size) : content.size();
    return FileWriter::writeWhole(outputPath, content.data(), n);
}

// ---------------------------------------------------------------------------
// Encoder

bool Encoder::createEntry(const std::string& folder, const std::string& fileName, PackFileEntry& out) {
    std::string path = folder + "/" + fileName;
    struct stat st;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    bool ok = fstat(fileno(f), &st) == 0;
    fclose(f);
    // The record holds a 32-bit size.
    if (!ok || static_cast<uint64_t>(st.st_size) > UINT32_MAX) return false;
    memset(out.name, 0, sizeof out.name);
    memcpy(out.name, fileName.data(), fileName.size() < sizeof out.name ? fileName.size() : sizeof out.name);
    out.size = static_cast<uint32_t>(st.st_size);
    out.offset = 0;
    return true;
}

bool Encoder::createPack(const std::string& folder, const std::string& fileName,
                         const std::string& outputPath) {
    srand(static_cast<unsigned>(time(nullptr)));
    bool pattern = (rand() & 1) != 0;
    int8_t shift = static_cast<int8_t>(rand() & 0xff);
    if (shift <= 0) shift = 1;
    key = static_cast<uint8_t>(2 * shift);
    int modulus = static_cast<int8_t>(key) % 9;
    if (modulus <= 0) modulus = 1;

    memset(header, 0, sizeof header);
    memcpy(header, kMagic, sizeof kMagic);
    header[6] = static_cast<unsigned char>(modulus);
    header[12] = pattern ? 1 : 0;
    header[13] = static_cast<unsigned char>(shift);

    PackFileEntry record;
    memset(&record, 0, sizeof record);
    int32_t count = 0;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return false;
    while (dirent* de = readdir(dir)) {
        if (fileName != de->d_name) continue;
        struct stat st;
        std::string path = folder + "/" + de->d_name;
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        ++count;
        if (!createEntry(folder, fileName, record)) {
            closedir(dir);
            return false;
        }
    }
    closedir(dir);
    // A pack with no entry would be rejected by every reader.
    if (count < 1) return false;

    writeLE32(header + 8, static_cast<uint32_t>(count));
    unsigned char entryBytes[kV1EntrySize] = {};
    memcpy(entryBytes, record.name, sizeof record.name);
    writeLE32(entryBytes + 52, record.size);
    writeLE32(entryBytes + 56, static_cast<uint32_t>(kV1HeaderSize + kV1EntrySize * count));
    scrambleEntry(entryBytes, key, pattern, modulus);

    std::string data;
    if (!readWholeFile(folder + "/" + fileName, data)) return false;
    // The file may have changed since the record was made; pack what the record says.
    if (data.size() < record.size) return false;
    data.resize(record.size);
    if (!data.empty())
        scrambleData(reinterpret_cast<unsigned char*>(&data[0]), data.size(), key, pattern, modulus);

    std::string out(reinterpret_cast<const char*>(header), kV1HeaderSize);
    out.append(reinterpret_cast<const char*>(entryBytes), kV1EntrySize);
    out += data;
    return FileWriter::writeWhole(outputPath, out.data(), out.size());
}

// ---------------------------------------------------------------------------
// FileAES

bool FileAES::createPack(const std::string& folder, const std::string& fileName,
                         const std::string& outputPath) {
    std::string plain;
    if (!readWholeFile(folder + "/" + fileName, plain)) return false;

    unsigned char head[kV2HeaderSize] = {};
    memcpy(head, kMagic, sizeof kMagic);
    head[6] = static_cast<unsigned char>(rand() & 1);
    unsigned char shift = static_cast<unsigned char>(rand() & 0xff);
    head[23] = shift == 0 ? 1 : shift;
    for (int i = 0; i < 16; ++i) head[7 + i] = static_cast<unsigned char>(rand() & 0xff);
    writeLE32(head + 24, kV2FormatVersion);

    unsigned char aesKey[16];
    buildV2Key(head, aesKey);
    std::string padded = padBlock(reinterpret_cast<const unsigned char*>(plain.data()), plain.size());
    std::string out(reinterpret_cast<const char*>(head), kV2HeaderSize);
    out.resize(kV2HeaderSize + padded.size());
    if (!aes128Ecb(true, aesKey, reinterpret_cast<const unsigned char*>(padded.data()), padded.size(),
                   reinterpret_cast<unsigned char*>(&out[kV2HeaderSize]))) {
        return false;
    }
    return FileWriter::writeWhole(outputPath, out.data(), out.size());
}

bool FileAES::decodePack(const std::string& path, std::string& outContent, uint64_t& outSize) {
    outContent.clear();
    outSize = 0;
    std::string file;
    if (!readWholeFile(path, file)) return false;
    if (file.size() < kV2HeaderSize) return false;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(file.data());
    if (!hasMagic(bytes)) return false;
    unsigned char aesKey[16];
    buildV2Key(bytes, aesKey);
    std::string plain;
    size_t plainLength = 0;
    if (!decryptPadded(aesKey, bytes + kV2HeaderSize, file.size() - kV2HeaderSize, plain, &plainLength)) {
        return false;
    }
    plain.resize(plainLength);
    outContent.swap(plain);
    outSize = outContent.size();
    return true;
}

bool FileAES::decodePack(const std::string& path) {
    return decodePack(path, content, size);
}

bool FileAES::createPack(const std::string& inputPath, const std::string& outputPath,
                         const std::string& keyText, bool /*flag*/) {
    std::string plain;
    if (!readWholeFile(inputPath, plain)) return false;
    size_t chunks = plain.size() / kChunkPlain;
    std::string out;
    out.reserve(chunks * (kChunkField + kChunkCipher) + plain.size() % kChunkPlain);
    for (size_t j = 0; j < chunks; ++j) {
        unsigned char chunkKey[16];
        buildChunkKey(keyText, j, chunkKey);
        std::string padded =
            padBlock(reinterpret_cast<const unsigned char*>(plain.data()) + j * kChunkPlain, kChunkPlain);
        unsigned char cipher[kChunkCipher];
        if (!aes128Ecb(true, chunkKey, reinterpret_cast<const unsigned char*>(padded.data()), kChunkCipher,
                       cipher)) {
            return false;
        }
        // Length field: the decimal digits of the encrypted length, a zero, one spare byte.
        const char field[kChunkField] = {'1', '7', '6', '\0', '\0'};
        out.append(field, kChunkField);
        out.append(reinterpret_cast<const char*>(cipher), kChunkCipher);
    }
    out.append(plain, chunks * kChunkPlain, std::string::npos);
    return FileWriter::writeWhole(outputPath, out.data(), out.size());
}

// The writer records no chunk count. Its chunks take 181 bytes each and its plain
// tail fewer than 160, so a chunk is read exactly while at least 181 bytes remain;
// the rest is the tail. Each length field must be a positive multiple of the block
// that fits in what remains.
bool FileAES::decodePack(const std::string& inputPath, const std::string& outputPath,
                         const std::string& keyText) {
    std::string file;
    if (!readWholeFile(inputPath, file)) return false;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(file.data());
    std::string out;
    size_t pos = 0;
    for (size_t j = 0; file.size() - pos >= kChunkField + kChunkCipher; ++j) {
        size_t length = 0;
        for (size_t i = 0; i < kChunkField && bytes[pos + i] >= '0' && bytes[pos + i] <= '9'; ++i) {
            length = length * 10 + (bytes[pos + i] - '0');
        }
        pos += kChunkField;
        if (length == 0 || length % kAesBlock != 0 || length > file.size() - pos) return false;
        unsigned char chunkKey[16];
        buildChunkKey(keyText, j, chunkKey);
        std::string plain;
        size_t plainLength = 0;
        if (!decryptPadded(chunkKey, bytes + pos, length, plain, &plainLength)) return false;
        out.append(plain, 0, plainLength);
        pos += length;
    }
    out.append(file, pos, std::string::npos);
    return FileWriter::writeWhole(outputPath, out.data(), out.size());
}
