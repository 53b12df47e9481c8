// Template packs: hand-built and independently encrypted packs must decode
// byte-exact, writers must round-trip, and malformed files must fail cleanly.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/FileCodec.h"
#include "support/TestSupport.h"

namespace {

using Bytes = std::string;

const Bytes kMagic("VOZAZ\0", 6);

void putLE32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

Bytes randomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n, '\0');
    for (auto& c : b) c = static_cast<char>(rng() & 0xff);
    return b;
}

std::string hex(const unsigned char* p, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

// Builds a version-1 pack by hand from the documented layout: the entry record
// bytes at multiples of the modulus move by -k (pattern) and the others by +k;
// the data the other way round; without the pattern every byte moves by -k.
Bytes buildV1(const std::string& name, const Bytes& data, int8_t shift, uint8_t flag, int8_t modulus,
              uint32_t sizeField) {
    uint8_t k = static_cast<uint8_t>(2 * shift);
    Bytes header(16, '\0');
    header.replace(0, 6, kMagic);
    header[6] = static_cast<char>(modulus);
    header[7] = 'x';  // unused
    putLE32(header, 8, 1);
    header[12] = static_cast<char>(flag);
    header[13] = static_cast<char>(shift);
    Bytes entry(60, '\0');
    entry.replace(0, std::min<size_t>(name.size(), 50), name.substr(0, 50));
    putLE32(entry, 52, sizeField);
    putLE32(entry, 56, 76);
    for (size_t i = 0; i < entry.size(); ++i) {
        int delta = flag == 0 ? -k : (i % modulus == 0 ? -k : k);
        entry[i] = static_cast<char>(static_cast<uint8_t>(entry[i]) + delta);
    }
    Bytes body = data;
    for (size_t i = 0; i < body.size(); ++i) {
        int delta = flag == 0 ? -k : (i % modulus == 0 ? k : -k);
        body[i] = static_cast<char>(static_cast<uint8_t>(body[i]) + delta);
    }
    return header + entry + body;
}

// Header of a version-2 pack and the AES key it implies (material + or - 2*shift).
struct V2Header {
    Bytes bytes;
    unsigned char key[16];
};

V2Header buildV2Header(uint8_t flag, uint8_t shift, uint32_t seed) {
    V2Header h;
    Bytes material = randomBytes(16, seed);
    h.bytes = kMagic + Bytes(1, static_cast<char>(flag)) + material + Bytes(1, static_cast<char>(shift)) +
              Bytes("\2\0\0\0", 4);
    uint8_t k = static_cast<uint8_t>(2 * shift);
    for (int i = 0; i < 16; ++i) {
        uint8_t m = static_cast<uint8_t>(material[i]);
        h.key[i] = static_cast<uint8_t>(flag == 1 ? m + k : m - k);
    }
    return h;
}

// Encrypts (or decrypts) with the openssl program, independent of the engine.
Bytes opensslEcb(const QvTest::TempDir& dir, const Bytes& in, const unsigned char key[16], bool decrypt,
                 bool pad = true) {
    std::string src = dir.file("ossl_in"), dst = dir.file("ossl_out");
    QvTest::writeFile(src, in);
    std::vector<std::string> argv = {"openssl", "enc", "-aes-128-ecb", "-K", hex(key, 16),
                                     "-in",     src,   "-out",         dst};
    if (decrypt) argv.insert(argv.begin() + 2, "-d");
    if (!pad) argv.push_back("-nopad");
    QvTest::ProgramResult r = QvTest::runProgram(argv);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return QvTest::readFile(dst);
}

struct Decoded {
    bool ok;
    Bytes content;
    uint64_t size;
};

Decoded decodeAs(FileCodecVersion version, const std::string& path) {
    FileCodec codec(version);
    bool ok = codec.decodePack(path);
    return {ok, codec.content, codec.size};
}

// The loaders' pattern: detect the version, then decode.
Decoded decodeDetected(const std::string& path) {
    return decodeAs(FileCodec::getFileCodecVersion(path), path);
}

Bytes meaningful(const Decoded& d) {
    return d.content.substr(0, d.size);
}

class FileCodecTest : public ::testing::Test {
protected:
    QvTest::TempDir dir{"filecodec"};
    std::string write(const std::string& name, const Bytes& b) {
        std::string p = dir.file(name);
        EXPECT_TRUE(QvTest::writeFile(p, b));
        return p;
    }
};

TEST_F(FileCodecTest, HandBuiltVersionOnePacksDecodeExactly) {
    std::string p = write("a.pack", buildV1("a.json", "{}", 5, 0, 1, 2));
    EXPECT_EQ(FileCodec::getFileCodecVersion(p), FileCodecVersion1);
    Decoded d = decodeDetected(p);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.size, 2u);
    EXPECT_EQ(d.content, "{}");

    // Pattern flag 1, modulus 3; a shift whose key byte wraps (2 * 100 = 200).
    const Bytes json = "{\"layers\":[{\"id\":\"a\",\"in\":0,\"out\":120}],\"fps\":30}";
    for (int8_t shift : {int8_t(5), int8_t(100), int8_t(-7)}) {
        std::string q = write("b.pack", buildV1("config.json", json, shift, 1, 3, json.size()));
        Decoded e = decodeDetected(q);
        ASSERT_TRUE(e.ok) << int(shift);
        EXPECT_EQ(meaningful(e), json) << int(shift);

        // The decoder exposes the unscrambled entry record.
        Decoder decoder;
        ASSERT_TRUE(decoder.decodePack(q));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(decoder.entry)), "config.json");
    }
}

TEST_F(FileCodecTest, VersionOneKeepsBytesBeyondTheSizeField) {
    // Only size bytes are unscrambled; the rest is kept as stored.
    Bytes packed = buildV1("d.json", "[1,2]", 9, 1, 2, 5) + "TAIL";
    Decoded d = decodeDetected(write("t.pack", packed));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.size, 5u);
    EXPECT_EQ(d.content, "[1,2]TAIL");
}

TEST_F(FileCodecTest, VersionDetection) {
    EXPECT_EQ(FileCodec::getFileCodecVersion(dir.file("missing")), FileCodecVersion1);
    Decoded missing = decodeDetected(dir.file("missing"));
    EXPECT_FALSE(missing.ok);
    EXPECT_TRUE(missing.content.empty());
    EXPECT_EQ(missing.size, 0u);
    // A missing plain file still "succeeds" empty.
    EXPECT_TRUE(decodeAs(FileCodecVersionPlain, dir.file("missing")).ok);

    EXPECT_EQ(FileCodec::getFileCodecVersion(write("short", Bytes("VOZAZ\0\1\0\1\0\0", 11))),
              FileCodecVersionPlain);
    EXPECT_EQ(FileCodec::getFileCodecVersion(write("plain.json", "{\"a\":1}")), FileCodecVersionPlain);
    Bytes zeroCount = kMagic + Bytes(10, '\0');
    EXPECT_EQ(FileCodec::getFileCodecVersion(write("zero", zeroCount)), FileCodecVersionPlain);
    // Text that happens to start like a pack is taken for one.
    Bytes lookalike = kMagic + Bytes("ab\3\0\0\0 some text", 17);
    EXPECT_EQ(FileCodec::getFileCodecVersion(write("look", lookalike)), FileCodecVersion1);

    Decoded plain = decodeDetected(dir.file("plain.json"));
    ASSERT_TRUE(plain.ok);
    EXPECT_EQ(plain.content, "{\"a\":1}");
    EXPECT_EQ(plain.size, 7u);

    FileCodec odd(static_cast<FileCodecVersion>(7));
    EXPECT_FALSE(odd.decodePack(dir.file("plain.json")));
    EXPECT_FALSE(odd.createPack(dir.path(), "plain.json", dir.file("out")));
}

TEST_F(FileCodecTest, VersionTwoBodyMadeByOpensslDecodesExactly) {
    for (uint8_t flag : {uint8_t(0), uint8_t(1)}) {
        for (size_t n : {size_t(0), size_t(16), size_t(37)}) {
            V2Header h =
                buildV2Header(flag, static_cast<uint8_t>(7 + 120 * flag), static_cast<uint32_t>(n + flag));
            Bytes plain = randomBytes(n, 99);
            Bytes body = opensslEcb(dir, plain, h.key, false);
            ASSERT_EQ(body.size(), (n / 16 + 1) * 16);
            std::string p = write("v2.pack", h.bytes + body);
            Decoded d = decodeAs(FileCodecVersion2, p);
            ASSERT_TRUE(d.ok) << int(flag) << " " << n;
            EXPECT_EQ(d.size, n);
            EXPECT_EQ(d.content, plain);

            // Detection never says 2: it depends on key bytes 1 to 4 read as a count.
            int32_t count = 0;
            for (int i = 0; i < 4; ++i)
                count |= static_cast<int32_t>(static_cast<uint8_t>(h.bytes[8 + i]) << (8 * i));
            EXPECT_EQ(FileCodec::getFileCodecVersion(p),
                      count >= 1 ? FileCodecVersion1 : FileCodecVersionPlain);
        }
    }
}

TEST_F(FileCodecTest, VersionTwoWriterOutputDecryptsWithOpenssl) {
    Bytes plain = randomBytes(1000, 5);
    write("in.bin", plain);
    FileCodec codec(FileCodecVersion2);
    ASSERT_TRUE(codec.createPack(dir.path(), "in.bin", dir.file("out.pack")));
    Bytes packed = QvTest::readFile(dir.file("out.pack"));
    ASSERT_EQ(packed.size(), 28u + 1008u);
    EXPECT_EQ(packed.substr(0, 6), kMagic);
    EXPECT_EQ(packed.substr(24, 4), Bytes("\2\0\0\0", 4));
    uint8_t flag = static_cast<uint8_t>(packed[6]);
    uint8_t shift = static_cast<uint8_t>(packed[23]);
    EXPECT_LE(flag, 1);
    EXPECT_GE(shift, 1);
    unsigned char key[16];
    uint8_t k = static_cast<uint8_t>(2 * shift);
    for (int i = 0; i < 16; ++i) {
        uint8_t m = static_cast<uint8_t>(packed[7 + i]);
        key[i] = static_cast<uint8_t>(flag == 1 ? m + k : m - k);
    }
    EXPECT_EQ(opensslEcb(dir, packed.substr(28), key, true), plain);
}

TEST_F(FileCodecTest, RoundTripsBothVersionsOnManySizes) {
    for (size_t n :
         {size_t(0), size_t(1), size_t(15), size_t(16), size_t(17), size_t(4096), size_t(1) << 20}) {
        Bytes plain = randomBytes(n, static_cast<uint32_t>(n));
        write("data.bin", plain);
        for (FileCodecVersion v : {FileCodecVersion1, FileCodecVersion2}) {
            SCOPED_TRACE(testing::Message() << "version " << v << " size " << n);
            FileCodec writer(v);
            std::string pack = dir.file("data.pack");
            ASSERT_TRUE(writer.createPack(dir.path(), "data.bin", pack));
            size_t expected = v == FileCodecVersion1 ? 76 + n : 28 + (n / 16 + 1) * 16;
            EXPECT_EQ(QvTest::readFile(pack).size(), expected);

            Decoded d = decodeAs(v, pack);
            ASSERT_TRUE(d.ok);
            EXPECT_EQ(d.size, n);
            EXPECT_TRUE(meaningful(d) == plain);

            FileCodec reader(v);
            ASSERT_TRUE(reader.decodePack(pack));
            std::string out = dir.file("unpacked.bin");
            std::remove(out.c_str());
            if (n == 0) {
                EXPECT_FALSE(reader.unpack(out));
                EXPECT_FALSE(QvTest::fileExists(out));
            } else {
                ASSERT_TRUE(reader.unpack(out));
                EXPECT_TRUE(QvTest::readFile(out) == plain);
            }
        }
    }
}

TEST_F(FileCodecTest, VersionOneWriterRecordsNameAndDetectsAsPack) {
    const std::string longName(60, 'n');
    write(longName, "[0,1,2]");
    Encoder encoder;
    ASSERT_TRUE(encoder.createPack(dir.path(), longName, dir.file("n.pack")));
    EXPECT_EQ(FileCodec::getFileCodecVersion(dir.file("n.pack")), FileCodecVersion1);
    Decoder decoder;
    ASSERT_TRUE(decoder.decodePack(dir.file("n.pack")));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(decoder.entry), 50), longName.substr(0, 50));
    EXPECT_EQ(decoder.content, "[0,1,2]");
    uint8_t modulus = decoder.header[6];
    uint8_t shift = decoder.header[13];
    EXPECT_TRUE(modulus >= 1 && modulus <= 8) << int(modulus);
    EXPECT_TRUE(shift >= 1 && shift <= 127) << int(shift);
}

TEST_F(FileCodecTest, MalformedPacksFailCleanly) {
    struct Case {
        const char* what;
        FileCodecVersion version;
        Bytes bytes;
    };
    V2Header h = buildV2Header(1, 3, 7);
    Bytes goodBody = opensslEcb(dir, "hello world", h.key, false);
    auto blockEndingWith = [&](uint8_t last) {
        Bytes block(16, 'p');
        block[15] = static_cast<char>(last);
        return opensslEcb(dir, block, h.key, false, false);
    };
    const Bytes json = "{\"k\":1}";
    std::vector<Case> cases = {
        {"v1 size field beyond the data", FileCodecVersion1,
         buildV1("a.json", json, 5, 0, 1, json.size() + 1)},
        {"v1 size field far beyond", FileCodecVersion1, buildV1("a.json", json, 5, 1, 2, 0xffffffffu)},
        {"v1 pattern with modulus 0", FileCodecVersion1, buildV1("a.json", json, 5, 1, 1, json.size())},
        {"v1 pattern with negative modulus", FileCodecVersion1,
         buildV1("a.json", json, 5, 1, 1, json.size())},
        {"v1 truncated entry record", FileCodecVersion1, buildV1("a.json", json, 5, 0, 1, 7).substr(0, 50)},
        {"v1 header only", FileCodecVersion1, buildV1("a.json", json, 5, 0, 1, 7).substr(0, 16)},
        {"v1 wrong magic", FileCodecVersion1, "VOZAY" + buildV1("a.json", json, 5, 0, 1, 7).substr(5)},
        {"v2 shorter than its header", FileCodecVersion2, h.bytes.substr(0, 27)},
        {"v2 without body", FileCodecVersion2, h.bytes},
        {"v2 body not a multiple of 16", FileCodecVersion2, h.bytes + goodBody.substr(0, 15)},
        {"v2 body one byte long", FileCodecVersion2, h.bytes + goodBody.substr(0, 1)},
        {"v2 padding byte 0", FileCodecVersion2, h.bytes + blockEndingWith(0)},
        {"v2 padding byte 17", FileCodecVersion2, h.bytes + blockEndingWith(17)},
        {"v2 padding byte 255", FileCodecVersion2, h.bytes + blockEndingWith(255)},
        {"v2 wrong magic", FileCodecVersion2, "X" + h.bytes.substr(1) + goodBody},
    };
    // Modulus fields of the two cases above.
    cases[2].bytes[6] = 0;
    cases[3].bytes[6] = static_cast<char>(-3);
    for (const Case& c : cases) {
        Decoded d = decodeAs(c.version, write("bad.pack", c.bytes));
        EXPECT_FALSE(d.ok) << c.what;
        EXPECT_TRUE(d.content.empty()) << c.what;
        EXPECT_EQ(d.size, 0u) << c.what;
    }
    // A 16-byte padding block is legal and leaves nothing.
    Decoded full = decodeAs(FileCodecVersion2, write("pad16.pack", h.bytes + blockEndingWith(16)));
    EXPECT_TRUE(full.ok);
    EXPECT_EQ(full.size, 0u);
    Decoded good = decodeAs(FileCodecVersion2, write("good.pack", h.bytes + goodBody));
    EXPECT_TRUE(good.ok);
    EXPECT_EQ(good.content, "hello world");
}

TEST_F(FileCodecTest, WritersReportMissingInputAndUnwritableOutput) {
    write("in.json", "{}");
    const std::string noDir = dir.file("no/such/dir/out.pack");
    for (FileCodecVersion v : {FileCodecVersion1, FileCodecVersion2}) {
        FileCodec codec(v);
        EXPECT_FALSE(codec.createPack(dir.path(), "in.json", noDir)) << v;
        EXPECT_FALSE(codec.createPack(dir.path(), "absent.json", dir.file("o.pack"))) << v;
        EXPECT_FALSE(codec.createPack(dir.file("nofolder"), "in.json", dir.file("o.pack"))) << v;
    }
    // A folder of that name is not a file to pack.
    ASSERT_EQ(QvTest::runProgram({"mkdir", dir.file("sub")}).exitCode, 0);
    EXPECT_FALSE(Encoder().createPack(dir.path(), "sub", dir.file("o.pack")));

    FileAES aes;
    EXPECT_FALSE(aes.createPack(dir.file("in.json"), noDir, "key", false));
    EXPECT_FALSE(aes.createPack(dir.file("absent"), dir.file("o.chunked"), "key", false));

    FileCodec codec(FileCodecVersionPlain);
    ASSERT_TRUE(codec.decodePack(dir.file("in.json")));
    EXPECT_FALSE(codec.unpack(noDir));
    EXPECT_TRUE(codec.unpack(dir.file("copy.json")));
    EXPECT_EQ(QvTest::readFile(dir.file("copy.json")), "{}");

    // A link planted at the output is replaced by the pack, never written through.
    write("outside", "kept");
    ASSERT_EQ(0, symlink(dir.file("outside").c_str(), dir.file("linked.pack").c_str()));
    EXPECT_TRUE(Encoder().createPack(dir.path(), "in.json", dir.file("linked.pack")));
    EXPECT_EQ(QvTest::readFile(dir.file("outside")), "kept");
    struct stat linked;
    EXPECT_TRUE(lstat(dir.file("linked.pack").c_str(), &linked) == 0 && S_ISREG(linked.st_mode));
    FileCodec packed(FileCodecVersion1);
    ASSERT_TRUE(packed.decodePack(dir.file("linked.pack")));
    EXPECT_EQ(packed.content.substr(0, packed.size), "{}");
}

TEST_F(FileCodecTest, ChunkedVariantRoundTripsAndMatchesOpenssl) {
    const std::string keyText =
        "a key text longer than one sixteen-byte key";  // 43 bytes: chunk 2 pads with 0
    for (size_t n :
         {size_t(0), size_t(100), size_t(159), size_t(160), size_t(161), size_t(480), size_t(1000)}) {
        SCOPED_TRACE(n);
        Bytes plain = randomBytes(n, static_cast<uint32_t>(n) + 11);
        write("plain.bin", plain);
        FileAES aes;
        ASSERT_TRUE(aes.createPack(dir.file("plain.bin"), dir.file("c.bin"), keyText, true));
        Bytes chunked = QvTest::readFile(dir.file("c.bin"));
        size_t chunks = n / 160;
        ASSERT_EQ(chunked.size(), chunks * 181 + n % 160);
        for (size_t j = 0; j < chunks; ++j) {
            EXPECT_EQ(chunked.substr(j * 181, 4), Bytes("176\0", 4));
            unsigned char key[16] = {};
            for (size_t i = 0; i < 16; ++i) {
                if (16 * j + i < keyText.size()) key[i] = static_cast<unsigned char>(keyText[16 * j + i]);
            }
            EXPECT_TRUE(opensslEcb(dir, chunked.substr(j * 181 + 5, 176), key, true) ==
                        plain.substr(j * 160, 160));
        }
        EXPECT_TRUE(chunked.substr(chunks * 181) == plain.substr(chunks * 160));

        ASSERT_TRUE(aes.decodePack(dir.file("c.bin"), dir.file("back.bin"), keyText));
        EXPECT_TRUE(QvTest::readFile(dir.file("back.bin")) == plain);
    }
}

TEST_F(FileCodecTest, ChunkedReaderRejectsBadLengthFields) {
    write("plain.bin", randomBytes(400, 3));
    FileAES aes;
    ASSERT_TRUE(aes.createPack(dir.file("plain.bin"), dir.file("c.bin"), "k", false));
    Bytes good = QvTest::readFile(dir.file("c.bin"));
    for (const char* field : {"0\0\0\0\0", "175\0\0", "999\0\0", "abc\0\0", "00000", "192\0\0", "16\0\0\0"}) {
        Bytes bad = good;
        bad.replace(181, 5, Bytes(field, 5));  // second chunk
        write("bad.bin", bad);
        std::string out = dir.file("bad.out");
        std::remove(out.c_str());
        EXPECT_FALSE(aes.decodePack(dir.file("bad.bin"), out, "k")) << field;
        EXPECT_FALSE(QvTest::fileExists(out)) << field;
    }
    EXPECT_FALSE(aes.decodePack(dir.file("absent"), dir.file("x"), "k"));
}

// Mutated and truncated packs must never make a reader touch memory outside
// what it read (the sanitizer build checks that) and must stay self-consistent.
TEST_F(FileCodecTest, MutatedAndTruncatedPacksNeverCrash) {
    Bytes json = "{\"comps\":[{\"name\":\"main\",\"w\":720,\"h\":1280}]}";
    write("c.json", json);
    ASSERT_TRUE(FileCodec(FileCodecVersion1).createPack(dir.path(), "c.json", dir.file("v1")));
    ASSERT_TRUE(FileCodec(FileCodecVersion2).createPack(dir.path(), "c.json", dir.file("v2")));
    write("long.bin", randomBytes(420, 8));
    ASSERT_TRUE(FileAES().createPack(dir.file("long.bin"), dir.file("ch"), "0123456789abcdef", false));
    std::vector<Bytes> seeds = {QvTest::readFile(dir.file("v1")), QvTest::readFile(dir.file("v2")),
                                QvTest::readFile(dir.file("ch")),
                                buildV1("a.json", json, 3, 1, 4, json.size())};

    auto runAll = [&](const Bytes& bytes) {
        std::string p = write("fuzz", bytes);
        (void)FileCodec::getFileCodecVersion(p);
        for (FileCodecVersion v : {FileCodecVersionPlain, FileCodecVersion1, FileCodecVersion2}) {
            FileCodec codec(v);
            if (codec.decodePack(p)) {
                EXPECT_LE(codec.size, codec.content.size());
            } else {
                EXPECT_EQ(codec.size, 0u);
            }
        }
        FileAES().decodePack(p, dir.file("fuzz.out"), "0123456789abcdef");
    };

    std::mt19937 rng(1234);
    for (const Bytes& seed : seeds) {
        for (size_t len = 0; len <= seed.size(); len += (len < 100 ? 1 : 37)) runAll(seed.substr(0, len));
        for (int round = 0; round < 150; ++round) {
            Bytes m = seed;
            int edits = 1 + static_cast<int>(rng() % 4);
            for (int e = 0; e < edits && !m.empty(); ++e) {
                size_t at = rng() % m.size();
                switch (rng() % 4) {
                    case 0:
                        m[at] = static_cast<char>(rng());
                        break;
                    case 1:
                        m.erase(at, 1 + rng() % 8);
                        break;
                    case 2:
                        m.insert(at, Bytes(1 + rng() % 20, static_cast<char>(rng())));
                        break;
                    default:
                        m.resize(at);
                        break;
                }
            }
            runAll(m);
        }
    }
    for (int round = 0; round < 50; ++round) runAll(randomBytes(rng() % 300, static_cast<uint32_t>(round)));
}

}  // namespace
