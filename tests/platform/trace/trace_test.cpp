#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/trace/trace.h"

namespace {

struct RecordingSink : qrv::trace::Sink {
    std::vector<std::string> pieces;
    std::vector<std::string> questions;
    bool answer = false;
    void DebugOutput(const std::string &text) override { pieces.push_back(text); }
    bool AskYesNo(const std::string &caption, const std::string &text) override {
        questions.push_back(caption + "|" + text);
        return answer;
    }
};

} // namespace

TEST(Trace, WritesThreePiecesAndAsksTheQuestion) {
    RecordingSink sink;
    qrv::trace::SetSink(&sink);
    const HRESULT hr = qrv::trace::DXTrace(".\\QRV3D.cpp", 25, D3DERR_DEVICELOST,
                                           "AppIdle Reset", TRUE);
    qrv::trace::SetSink(nullptr);
    EXPECT_EQ(hr, D3DERR_DEVICELOST);
    ASSERT_EQ(sink.pieces.size(), 3u);
    EXPECT_EQ(sink.pieces[0], ".\\QRV3D.cpp(25): ");
    EXPECT_EQ(sink.pieces[1], "AppIdle Reset");
    EXPECT_EQ(sink.pieces[2], " (hr=D3DERR_DEVICELOST (0x88760868))");
    ASSERT_EQ(sink.questions.size(), 1u);
    EXPECT_EQ(sink.questions[0],
              "Unexpected error encountered|File: .\\QRV3D.cpp\nLine: 25\n"
              "Error Code: D3DERR_DEVICELOST (0x88760868)\nCalling: AppIdle Reset\n"
              "Do you want to debug the application?");
}

TEST(Trace, NoPopUpAsksNothingAndUnknownCodesAreNamedUnknown) {
    RecordingSink sink;
    sink.answer = true; // Yes without a debugger attached must not stop the process
    qrv::trace::SetSink(&sink);
    EXPECT_EQ(qrv::trace::DXTrace("f", 1, E_FAIL, "x", FALSE), E_FAIL);
    EXPECT_EQ(qrv::trace::DXTrace("f", 1, 0x12345678, "y", TRUE), 0x12345678);
    qrv::trace::SetSink(nullptr);
    EXPECT_EQ(sink.questions.size(), 1u);
    EXPECT_EQ(sink.pieces[2], " (hr=E_FAIL (0x80004005))");
    EXPECT_EQ(sink.pieces[5], " (hr=Unknown (0x12345678))");
}

TEST(Trace, HeadlessAnswersNoWithoutHanging) {
    // No desktop: no box, the answer is No, and the call returns at once.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    testing::internal::CaptureStderr();
    EXPECT_EQ(qrv::trace::DXTrace("file.cpp", 7, E_FAIL, "Step Failed", TRUE), E_FAIL);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "file.cpp(7): Step Failed (hr=E_FAIL (0x80004005))\n");
}
