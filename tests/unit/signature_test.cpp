// Release signatures: DER to r and s, the built-in key's form, and the system's verification
// (libcrypto natively, CNG under Wine) of signatures that `openssl dgst -sha256 -sign` made with
// the tests' key (tests/data/test-release-key.*.pem).

#include "app/release_state.h"
#include "manifest/manifest_signature.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

const char kTestKey[] = "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEGfDXn0CWohnlJ2QLJw3XARdwjRir"
                        "b1VWsVPwBkVWcXUctAqOe5FNWdfaCKRxD5JPjnL8a27PR2hFzK+y++hjXA==";
const char kTestKeyPoint[] = "0419f0d79f4096a219e527640b270dd70117708d18ab6f5556b153f00645567175"
                             "1cb40a8e7b914d59d7da08a4710f924f8e72fc6b6ecf476845ccafb2fbe8635c";
// Every signature below signs this message: an empty 32-bit manifest under its name.
const char kSignedMessage[] = "launcher_manifest.js\n#0\n";

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string Pad32(const std::string& hex) {
    return std::string(64 - hex.size(), '0') + hex;
}

struct OpensslSignature {
    const char* what;
    const char* der; // as openssl wrote it
    const char* r;   // the integers as `openssl asn1parse` shows them
    const char* s;
};

// Found by signing until openssl wrote each shape: a DER integer is 33 bytes when its top bit is
// set (a zero byte in front) and shorter than 32 when its leading bytes are zero.
const OpensslSignature kSignatures[] = {
    {"BothIntegers32Bytes",
     "304402204d79bae56b20af9a8722dc889c012db2dcab3ed6421b713d5a7c028d5f0296f902204d0656e26ae8d6a4"
     "e24a79db834c0fcae73e61ce3dd258db5459a4216757e1d0",
     "4D79BAE56B20AF9A8722DC889C012DB2DCAB3ED6421B713D5A7C028D5F0296F9",
     "4D0656E26AE8D6A4E24A79DB834C0FCAE73E61CE3DD258DB5459A4216757E1D0"},
    {"BothWithALeadingZeroByte",
     "3046022100bed1bcd91c10e3227473aacc844ad62be619220b890bf5287ef65fdd1f8595e5022100fa5359d2d6"
     "3d3148eb6bdf23f7dd79e634dbb2fccabe3b4b0d936f6130ab643a",
     "BED1BCD91C10E3227473AACC844AD62BE619220B890BF5287EF65FDD1F8595E5",
     "FA5359D2D63D3148EB6BDF23F7DD79E634DBB2FCCABE3B4B0D936F6130AB643A"},
    {"ShortR",
     "3043021f50a5f239920f369570093e37d8bc61275bc182aba8dca0cd405c2ed77e5c240220660a1bdc57b79e53"
     "4b87523e93c8e5b768668bed3a22e99b324dc6a96cd7b81d",
     "50A5F239920F369570093E37D8BC61275BC182ABA8DCA0CD405C2ED77E5C24",
     "660A1BDC57B79E534B87523E93C8E5B768668BED3A22E99B324DC6A96CD7B81D"},
    {"RWithALeadingZeroByteShortS",
     "3044022100e4fa27ae3028b78e4824ba401bd5e8f8cb4d2449ea0d94134f51626bed0b3645021f055cef15bacd"
     "4ccd890530122d4133bca0c4d54f5bc4ab5c2984f46a19d085",
     "E4FA27AE3028B78E4824BA401BD5E8F8CB4D2449EA0D94134F51626BED0B3645",
     "055CEF15BACD4CCD890530122D4133BCA0C4D54F5BC4AB5C2984F46A19D085"},
};

class OpensslSignatureTest : public ::testing::TestWithParam<OpensslSignature> {};

TEST_P(OpensslSignatureTest, BecomesRAndSAndVerifiesOnlyItsOwnMessage) {
    const OpensslSignature& signature = GetParam();
    std::string raw;
    ASSERT_TRUE(DerSignatureToRaw(FromHex(signature.der), raw));
    EXPECT_EQ(raw, FromHex(Pad32(signature.r) + Pad32(signature.s)));

    const std::string point = FromHex(kTestKeyPoint);
    EXPECT_EQ(platform::VerifyP256Signature(point, kSignedMessage, raw),
              platform::SignatureCheck::Valid);
    // The same bytes under the 64-bit manifest's name, one byte of the body changed, r and s
    // changed: all refused.
    EXPECT_EQ(platform::VerifyP256Signature(point, "launcher_manifest_x64.js\n#0\n", raw),
              platform::SignatureCheck::Invalid);
    EXPECT_EQ(platform::VerifyP256Signature(point, "launcher_manifest.js\n#1\n", raw),
              platform::SignatureCheck::Invalid);
    std::string changed = raw;
    changed[40] ^= 1;
    EXPECT_EQ(platform::VerifyP256Signature(point, kSignedMessage, changed),
              platform::SignatureCheck::Invalid);
    EXPECT_EQ(
        platform::VerifyP256Signature(point, kSignedMessage, raw.substr(32) + raw.substr(0, 32)),
        platform::SignatureCheck::Invalid);
}

INSTANTIATE_TEST_SUITE_P(Shapes, OpensslSignatureTest, ::testing::ValuesIn(kSignatures),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(DerSignatureTest, AnythingButTwoIntegersThatFitIsRefused) {
    const std::string r = "0220" + std::string(64, '1');
    const std::string s = "0220" + std::string(64, '2');
    std::string raw = "junk";
    ASSERT_TRUE(DerSignatureToRaw(FromHex("3044" + r + s), raw));
    EXPECT_EQ(raw.size(), 64u);
    // A 33-byte integer may only carry a zero byte in front of 32.
    EXPECT_TRUE(DerSignatureToRaw(FromHex("3045022100" + std::string(64, 'f') + s), raw));
    const std::string refused[] = {
        "",
        "30",
        "3144" + r + s,                             // not a sequence
        "3045" + r + s,                             // length beyond the end
        "3043" + r + s,                             // length short of the end
        "3046" + r + s + "0000",                    // bytes after the second integer
        "3022" + r,                                 // one integer
        "3044" + r + "0320" + std::string(64, '2'), // second element no integer
        "3045022101" + std::string(64, '1') + s,    // 33 bytes that need all 33
        "3044022080" + std::string(62, '1') + s,    // negative
        "30240200" + s,                             // empty integer
        "3047022300" + std::string(68, '1') + s,    // longer than a P-256 integer
        "30818302" + std::string(2, '0'),           // long-form length
    };
    for (const std::string& hex : refused) {
        EXPECT_FALSE(DerSignatureToRaw(FromHex(hex), raw)) << hex;
        EXPECT_TRUE(raw.empty()) << hex;
    }
}

TEST(ReleaseKeyTest, OnlyAP256PublicKeyDecodes) {
    std::string point;
    ASSERT_TRUE(DecodeReleaseKey(kTestKey, point));
    EXPECT_EQ(point, FromHex(kTestKeyPoint));

    std::string damaged = kTestKey;
    damaged[60] = '*';
    const std::string refused[] = {
        "",
        damaged,
        std::string(kTestKey).substr(0, 120), // cut
        std::string(kTestKey) + "AAAA",       // too long
        // A P-384 public key.
        "MHYwEAYHKoZIzj0CAQYFK4EEACIDYgAEBmpYr5Xzk3nnTL06tucs6FzpNuYLspnB",
    };
    for (const std::string& key : refused)
        EXPECT_FALSE(DecodeReleaseKey(key, point)) << key;
}

// openssl's signature of kStampedHead, "launcher_manifest.js" LF "#0" LF.
const char kStampedHead[] = "felto-release-signature 1\nrelease 1001\nexpires 1767139200\n\n";
const char kStampedDer[] =
    "304402207de67d3ce22754884e6f950af78babca605732bb3e39da5ee2e389682e36617f02204b5aca5d5f0ba0"
    "86cde46335ff20f0e5b167debe3df80bb9ed91876010275f8a";

TEST(SignatureFileTest, AStampedFileSplitsAndEveryOtherShapeIsTold) {
    const std::string der = FromHex(kStampedDer);
    std::string head, split;
    ReleaseStamp stamp;
    ASSERT_EQ(SplitSignatureFile(kStampedHead + der, head, stamp, split),
              SignatureFileKind::Stamped);
    EXPECT_EQ(head, kStampedHead);
    EXPECT_EQ(split, der);
    EXPECT_EQ(stamp.release, 1001u);
    EXPECT_EQ(stamp.expires, 1767139200);
    EXPECT_EQ(SignatureHead(stamp), kStampedHead);

    ReleaseStamp never{18446744073709551615u, std::nullopt};
    ASSERT_EQ(SplitSignatureFile(SignatureHead(never) + der, head, stamp, split),
              SignatureFileKind::Stamped);
    EXPECT_EQ(stamp.release, 18446744073709551615u);
    EXPECT_FALSE(stamp.expires);

    EXPECT_EQ(SplitSignatureFile(der, head, stamp, split), SignatureFileKind::OldFormat);
    const std::string damaged[] = {
        "",
        "<html>404 Not Found</html>",
        std::string(kStampedHead) + der.substr(0, 40),                  // cut
        std::string(kStampedHead),                                      // no signature
        "felto-release-signature 2\nrelease 1\nexpires none\n\n" + der, // other version
        "felto-release-signature 1\nrelease 18446744073709551616\nexpires none\n\n" + der,
        "felto-release-signature 1\nrelease -1\nexpires none\n\n" + der,
        "felto-release-signature 1\nrelease  1\nexpires none\n\n" + der,
        "felto-release-signature 1\nrelease 1\nexpires soon\n\n" + der,
        "felto-release-signature 1\nrelease 1\nexpires 9223372036854775808\n\n" + der,
        "felto-release-signature 1\nexpires none\nrelease 1\n\n" + der, // order
        "felto-release-signature 1\nrelease 1\nexpires none\n" + der,   // no empty line
        "felto-release-signature 1\r\nrelease 1\r\nexpires none\r\n\r\n" + der,
    };
    for (const std::string& bytes : damaged)
        EXPECT_EQ(SplitSignatureFile(bytes, head, stamp, split), SignatureFileKind::Damaged)
            << bytes;
}

TEST(SignatureFileTest, TheDownloadCheckAndTheWholeCheckOfAManifest) {
    TempDir dir;
    FileEntry entry;
    entry.strIncomingPath = dir / "launcher_manifest.js.sig";
    const std::string manifest = dir / "launcher_manifest.js";
    WriteFile(manifest, "#0\n");
    ReleaseStamp stamp;
    WriteFile(entry.strIncomingPath, kStampedHead + FromHex(kStampedDer));
    EXPECT_TRUE(CheckSignatureFile(entry));
    EXPECT_EQ(CheckManifestSignature(kTestKey, "launcher_manifest.js", manifest,
                                     entry.strIncomingPath, stamp),
              ManifestSignature::Valid);
    EXPECT_EQ(stamp.release, 1001u);
    EXPECT_EQ(CheckManifestSignature(kTestKey, "launcher_manifest_x64.js", manifest,
                                     entry.strIncomingPath, stamp),
              ManifestSignature::Mismatch);
    EXPECT_EQ(CheckManifestSignature(kTestKey, "launcher_manifest.js", dir / "missing",
                                     entry.strIncomingPath, stamp),
              ManifestSignature::Unreadable);
    // The number or the expiry changed after signing.
    for (const char* head : {"felto-release-signature 1\nrelease 1002\nexpires 1767139200\n\n",
                             "felto-release-signature 1\nrelease 1001\nexpires none\n\n"}) {
        WriteFile(entry.strIncomingPath, head + FromHex(kStampedDer));
        EXPECT_EQ(CheckManifestSignature(kTestKey, "launcher_manifest.js", manifest,
                                         entry.strIncomingPath, stamp),
                  ManifestSignature::Mismatch)
            << head;
    }

    // A signature of the format before release numbers is let through the download, so that
    // the run can say why it refuses it.
    WriteFile(entry.strIncomingPath, FromHex(kSignatures[0].der));
    EXPECT_TRUE(CheckSignatureFile(entry));
    EXPECT_EQ(CheckManifestSignature(kTestKey, "launcher_manifest.js", manifest,
                                     entry.strIncomingPath, stamp),
              ManifestSignature::OldFormat);
    WriteFile(entry.strIncomingPath, FromHex(kSignatures[1].der).substr(0, 40));
    EXPECT_FALSE(CheckSignatureFile(entry));
    WriteFile(entry.strIncomingPath, "<html>404 Not Found</html>");
    EXPECT_FALSE(CheckSignatureFile(entry));
}

TEST(SignatureFileTest, UtcTextAroundLeapDaysAndTheEpoch) {
    EXPECT_EQ(UtcText(0), "1970-01-01 00:00:00 UTC");
    EXPECT_EQ(UtcText(951782400), "2000-02-29 00:00:00 UTC");
    EXPECT_EQ(UtcText(1767139199), "2025-12-30 23:59:59 UTC");
    EXPECT_EQ(UtcText(4107542400), "2100-03-01 00:00:00 UTC");
    EXPECT_EQ(UtcText(-1), "1969-12-31 23:59:59 UTC");
}

TEST(ReleaseStateTest, ReadsBackWhatItWroteAndNothingElse) {
    const RememberedRelease written{kTestKey, 1767139200, "launcher_manifest_x64.js",
                                    "0123456789abcdef0123456789abcdef"};
    const std::string text = ReleaseStateText(written);
    RememberedRelease read;
    ASSERT_TRUE(ParseReleaseState(text, read));
    EXPECT_EQ(ReleaseStateText(read), text);
    for (const std::string& damaged :
         {std::string(), text.substr(0, text.size() / 2), text + "more\n",
          "felto-release-state 2" + text.substr(text.find('\n')),
          text.substr(0, text.find("1767139200")) + "x" + text.substr(text.find("1767139200"))})
        EXPECT_FALSE(ParseReleaseState(damaged, read)) << damaged;
}

} // namespace
