// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <cstring>
#include <map>

#include "platform/codec/compman_internal.h"
#include "tests/fakes/form_under_test.h"

namespace {

using fakes::FormUnderTest;

constexpr DWORD kMjpg = MAKEFOURCC('M', 'J', 'P', 'G');

// What a decompressor says and was told: its answers per message and the messages it received.
struct Script {
    std::map<UINT, LRESULT> answers;  // missing: ICERR_OK
    LRESULT stateSize = 8;
    LRESULT formatSize = sizeof(BITMAPINFOHEADER);
    DWORD frameBytes = 1234;
    std::vector<UINT> received;
    int opened = 0;
    int closed = 0;
};

class ScriptedDecompressor final : public platform::VideoCodec {
  public:
    explicit ScriptedDecompressor(Script& script) : script_(script) { ++script_.opened; }
    ~ScriptedDecompressor() override { ++script_.closed; }
    ScriptedDecompressor(const ScriptedDecompressor&) = delete;
    ScriptedDecompressor& operator=(const ScriptedDecompressor&) = delete;

    LRESULT Message(UINT message, DWORD_PTR param1, DWORD_PTR param2) override {
        script_.received.push_back(message);
        if (message == ICM_GETSTATE && param1 == 0) return script_.stateSize;
        if (message == ICM_DECOMPRESS_GET_FORMAT && param2 == 0) return script_.formatSize;
        if (message == ICM_DECOMPRESS_GET_FORMAT && script_.answers[message] == ICERR_OK &&
            script_.formatSize >= LRESULT{sizeof(BITMAPINFOHEADER)}) {
            BITMAPINFOHEADER decoded{};
            decoded.biSize = sizeof decoded;
            decoded.biSizeImage = script_.frameBytes;
            std::memcpy(reinterpret_cast<void*>(param2), &decoded, sizeof decoded);
        }
        return script_.answers[message];
    }

  private:
    Script& script_;
};

// The machine's "MJPG" decompressor replaced by a scripted one for the test's lifetime; its
// compressor stays the real one, which the start-up's probe needs.
class ScriptedMjpg {
  public:
    explicit ScriptedMjpg(Script& script) {
        platform::CodecRegistration registration;
        registration.info.fccType = ICTYPE_VIDEO;
        registration.info.fccHandler = kMjpg;
        registration.open = [&script](UINT mode) -> std::unique_ptr<platform::VideoCodec> {
            if (mode != ICMODE_DECOMPRESS) return platform::MjpegRegistration().open(mode);
            return std::make_unique<ScriptedDecompressor>(script);
        };
        previous_ = platform::InstallCodec(std::move(registration));
    }
    ~ScriptedMjpg() { platform::InstallCodec(std::move(previous_)); }
    ScriptedMjpg(const ScriptedMjpg&) = delete;
    ScriptedMjpg& operator=(const ScriptedMjpg&) = delete;

  private:
    platform::CodecRegistration previous_;
};

const std::vector<UINT> kEverySend = {ICM_GETSTATE,
                                      ICM_GETSTATE,
                                      ICM_SETSTATE,
                                      ICM_DECOMPRESS_GET_FORMAT,
                                      ICM_DECOMPRESS_GET_FORMAT,
                                      ICM_DECOMPRESS_QUERY,
                                      ICM_DECOMPRESS_BEGIN};

struct PrepareCase {
    const char* name;
    std::map<UINT, LRESULT> answers;
    LRESULT formatSize;
    std::vector<std::string> boxes;
    std::int32_t lastResult;
    std::size_t frameBytes;
};

// No failure stops the preparation; each applicable message comes in order, codes signed.
TEST(PrepareDecompressor, EveryStepRunsAndEachFailureIsReported) {
    const PrepareCase cases[] = {
        {"accepted", {}, 40, {}, 0, 1234},
        {"query refused",
         {{ICM_DECOMPRESS_QUERY, ICERR_BADFORMAT}},
         40,
         {"Impossible de prendre en charge la decompression ..."},
         0,
         1234},
        {"format and begin refused",
         {{ICM_DECOMPRESS_GET_FORMAT, -5}, {ICM_DECOMPRESS_BEGIN, -100}},
         40,
         {"Erreur ICDECOMPRESSGetFormat -5", "Erreur ICDECOMPRESSBEGIN -100"},
         -100,
         0},
        {"negative size",
         {{ICM_DECOMPRESS_QUERY, ICERR_BADFORMAT}, {ICM_DECOMPRESS_BEGIN, ICERR_BADFORMAT}},
         -2,
         {"Erreur ICDECOMPRESSGetFormatSize -2", "Erreur ICDECOMPRESSGetFormat -2",
          "Impossible de prendre en charge la decompression ...", "Erreur ICDECOMPRESSBEGIN -2"},
         -2,
         0},
        {"size too small for a header", {}, 8, {}, 0, 0},
    };
    for (const PrepareCase& c : cases) {
        SCOPED_TRACE(c.name);
        Script script;
        script.answers = c.answers;
        script.formatSize = c.formatSize;
        ScriptedMjpg installed(script);
        FormUnderTest run;
        TForm1& form = run.Create();
        form.PrepareDecompressor();
        EXPECT_EQ(run.boxes.texts, c.boxes);
        EXPECT_EQ(form.LastResult, c.lastResult);
        EXPECT_EQ(form.DisplayDecompressor.DecodedFrameBuffer.size(), c.frameBytes);
        EXPECT_EQ(form.DisplayDecompressor.DecompressorInfo.size(), 568u);
        std::vector<UINT> sent = kEverySend;
        if (c.formatSize <= 0) sent.erase(sent.begin() + 4);  // no format to ask for
        EXPECT_EQ(script.received, sent);
        EXPECT_EQ(script.opened, 1);
        EXPECT_EQ(script.closed, 0) << "kept open";
        form.ReleaseDecompressor();
        EXPECT_EQ(script.closed, 1);
        EXPECT_EQ(script.received.size(), sent.size()) << "no end message before closing";
        EXPECT_TRUE(form.DisplayDecompressor.DecodedFormat.empty());
    }
}

// Without a decompressor every step's answer is the manager's bad handle, shown as such.
TEST(PrepareDecompressor, NoDecompressorShowsEachMessageWithoutTouchingABuffer) {
    FormUnderTest run;
    TForm1& form = run.Create();
    run.machine.description.codecs = {{"MJPG", false}};
    platform::SetMachine(run.machine.description);
    form.PrepareDecompressor();
    EXPECT_EQ(run.boxes.texts,
              (std::vector<std::string>{"Erreur ICDECOMPRESSGetFormatSize -8",
                                        "Erreur ICDECOMPRESSGetFormat -8",
                                        "Impossible de prendre en charge la decompression ...",
                                        "Erreur ICDECOMPRESSBEGIN -8"}));
    EXPECT_EQ(form.DisplayDecompressor.Handle, nullptr);
    EXPECT_TRUE(form.DisplayDecompressor.DecodedFrameBuffer.empty());
    form.ReleaseDecompressor();
}

// Start-up prepares it only for a card named "MJPG", the close releases it, and a driver
// change releases the old card's and prepares the new card's, with a frame bitmap of its size.
TEST(PrepareDecompressor, OnlyAMotionJpegCardOpensOne) {
    for (const DWORD compression : {DWORD{BI_RGB}, kMjpg}) {
        SCOPED_TRACE(compression);
        Script script;
        ScriptedMjpg installed(script);
        FormUnderTest run({0, 1});
        run.capture.format.biCompression = compression;
        TForm1& form = run.Create();
        const int opens = compression == kMjpg ? 1 : 0;
        EXPECT_EQ(script.opened, opens);
        EXPECT_EQ(form.FrameBitmap.size(), QSize(384, 288));
        run.capture.accepts = [](const BITMAPINFOHEADER& h) { return h.biWidth == 320; };
        // The fake's one format stands for every card: the new one delivers its own kind again.
        run.capture.format.biCompression = compression;
        form.ComboBox1->setCurrentIndex(1);
        form.ComboBox1Change();
        EXPECT_EQ(form.FrameBitmap.size(), QSize(320, 240));
        EXPECT_EQ(script.opened, 2 * opens);
        EXPECT_EQ(script.closed, opens);
        form.close();
        EXPECT_EQ(script.closed, 2 * opens);
    }
}

// The platform's own decompressor, for a card delivering Motion-JPEG whose format start-up
// negotiated to 384 x 288: primed without a word, its decoded frame a 24-bit picture.
TEST(PrepareDecompressor, TheMachinesDecompressorTakesAMotionJpegCardSilently) {
    FormUnderTest run;
    run.capture.format.biCompression = kMjpg;
    TForm1& form = run.Create();
    EXPECT_EQ(form.Edit2->text(), "MJPG");
    EXPECT_TRUE(run.boxes.texts.empty());
    EXPECT_NE(form.DisplayDecompressor.Handle, nullptr);
    EXPECT_EQ(form.LastResult, 0);
    EXPECT_EQ(form.DisplayDecompressor.DecodedFormatSize, 40);
    EXPECT_EQ(form.DisplayDecompressor.DecodedFrameBuffer.size(), 384u * 288u * 3u);
    form.close();
    EXPECT_EQ(form.DisplayDecompressor.Handle, nullptr);
}

}  // namespace
