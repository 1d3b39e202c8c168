// The settings dialogs as real windows, driven through the simulator's dialog steps; the steps
// themselves; and the pictures the simulator writes of windows.
#include "Framework/DDialog.h"
#include "Framework/Exceptions.h"
#include "Framework/Registry.h"
#include "Host/DialogPlayer.h"
#include "Host/PluginHost.h"
#include "Host/Snapshot.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Plugin.h"
#include "Plugin/Page/SettingsDialogs.h"
#include "tests/RegistryFixture.h"
#include "tests/TestFiles.h"
#include <gtest/gtest.h>
#include <wincodec.h>
#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

class Dialogs : public RegistryTest {
protected:
    void SetUp() override {
        // The templates are linked into this program; its boxes are recorded, never shown.
        g_module = GetModuleHandleW(nullptr);
        Host::CaptureBoxes(GetModuleHandleW(nullptr));
        Host::Boxes::All().clear();
        scenario_.print = [this](const std::wstring& text) { transcript_ += text + L"\n"; };
    }
    void TearDown() override { Host::Boxes::All().clear(); }

    // Queues the steps (one `dialog` line each), then runs `open` as the command that opens the
    // dialog. False when a step or the command's line failed; the transcript says which.
    bool Play(std::initializer_list<const wchar_t*> steps, const std::function<void()>& open) {
        int number = 0;
        for (const wchar_t* step : steps)
            if (!scenario_.RunLine(std::wstring(L"dialog ") + step, L"steps", ++number)) return false;
        Host::Line line(L"open", L"steps", 0);
        bool failed = false;
        {
            Host::DialogPlayer player(scenario_, line);
            open();
            try {
                player.Finish();
            } catch (const Host::ScenarioError& error) {
                transcript_ += L"FAIL " + error.Text() + L"\n";
                failed = true;
            }
        }
        return !failed && transcript_.find(L"FAIL") == std::wstring::npos;
    }
    std::string Transcript() const { return Narrow(transcript_, CP_UTF8); }

    Host::Scenario scenario_{L""};
    std::wstring transcript_;
};

// The collection settings written as the page's bits: 1 reset, 2 receipt, 4 X-report, 8 Z-report,
// 16 cancelling, 32 screen switch, 64 completion on stacker, 256 collection; choices 1, 2, 4, 8.
struct Collect {
    unsigned options = 307, choices = 6, copies = 2;
    bool result = false;
    void Run() {
        using Settings = Plugin::CollectionSettings;
        static const std::pair<unsigned, bool Settings::*> kOptions[] = {
            {1, &Settings::resetCounter}, {2, &Settings::printReceipt},    {4, &Settings::xReport},
            {8, &Settings::zReport},      {16, &Settings::cancelAllowed},  {32, &Settings::autoNavigate},
            {64, &Settings::completeOnStacker}, {256, &Settings::enabled}};
        using Choices = Settings::CollectorChoices;
        static const std::pair<unsigned, bool Choices::*> kChoices[] = {
            {1, &Choices::reset}, {2, &Choices::receipt}, {4, &Choices::xReport}, {8, &Choices::zReport}};
        Settings settings;
        for (const auto& [bit, field] : kOptions) settings.*field = (options & bit) != 0;
        for (const auto& [bit, field] : kChoices) settings.collectorChooses.*field = (choices & bit) != 0;
        settings.receiptCopies = copies;
        result = Plugin::RunCollectParams(nullptr, settings);
        if (!result) return;
        options = choices = 0;
        for (const auto& [bit, field] : kOptions) options |= settings.*field ? bit : 0;
        for (const auto& [bit, field] : kChoices) choices |= settings.collectorChooses.*field ? bit : 0;
        copies = settings.receiptCopies;
    }
};

TEST_F(Dialogs, CollectReportsExcludeEachOtherAndReceiptNeedsTheReset) {
    Collect collect;
    collect.options = 256 | 1 | 2 | 4;  // collection, reset, receipt, X-report
    ASSERT_TRUE(Play({L"expect 617 checked", L"click 619", L"expect 617 unchecked", L"expect 619 checked",
                      L"click 617", L"expect 619 unchecked",  // and back: X again, Z gone
                      L"click 619",                           // Z stays chosen
                      L"click 148", L"expect 613 unchecked",  // no receipt without the reset
                      L"click 613", L"expect 148 checked",    // the receipt brings the reset back
                      L"ok"},
                     [&] { collect.Run(); }))
        << Transcript();
    EXPECT_TRUE(collect.result);
    EXPECT_EQ(256u | 1 | 2 | 8, collect.options);
}

TEST_F(Dialogs, CollectWithCollectionOffDisablesAllButDefaultsAndKeepsTheValues) {
    Collect collect;
    collect.options = 1 | 4 | 16 | 32;  // collection off, the rest as set before
    collect.choices = 9;
    collect.copies = 7;
    ASSERT_TRUE(Play({L"expect 644 unchecked", L"expect 645 disabled", L"expect 611 disabled", L"expect 148 disabled",
                      L"expect 612 disabled", L"expect 613 disabled", L"expect 614 disabled", L"expect 615 disabled",
                      L"expect 616 disabled", L"expect 617 disabled", L"expect 618 disabled", L"expect 619 disabled",
                      L"expect 620 disabled", L"expect 646 disabled", L"expect 647 disabled", L"expect 622 disabled",
                      L"expect 623 disabled", L"expect 621 enabled", L"expect 1 enabled", L"expect 2 enabled",
                      L"expect 614 = 7", L"click 644", L"expect 617 enabled", L"expect 614 enabled", L"click 644",
                      L"expect 617 disabled", L"ok"},
                     [&] { collect.Run(); }))
        << Transcript();
    EXPECT_TRUE(collect.result);
    EXPECT_EQ(1u | 4 | 16 | 32, collect.options);
    EXPECT_EQ(9u, collect.choices);
    EXPECT_EQ(7u, collect.copies);
}

TEST_F(Dialogs, CollectRefusesReceiptCopiesThatAreNoNumberTheFieldCanHold) {
    Collect collect;
    ASSERT_TRUE(Play({L"text 614 =", L"ok", L"text 614 = -1", L"ok", L"text 614 = 4294967296", L"ok",
                      L"text 614 = три", L"ok", L"expect 614 = три", L"text 614 = 3", L"ok"},
                     [&] { collect.Run(); }))
        << Transcript();
    ASSERT_EQ(4u, Host::Boxes::All().size());
    for (const Host::Box& box : Host::Boxes::All()) EXPECT_EQ(L"Указано недопустимое значение", box.text);
    EXPECT_TRUE(collect.result);
    EXPECT_EQ(3u, collect.copies);
}

TEST_F(Dialogs, CollectDefaultsAndCollectorsChoiceButtons) {
    Collect collect;
    collect.options = 256 | 8;
    collect.choices = 0xF0 | 1;  // only the low four bits are kept
    collect.copies = 9;
    ASSERT_TRUE(Play({L"click 622", L"expect 612 checked", L"expect 620 checked", L"click 623", L"expect 616 unchecked",
                      L"click 621", L"expect 614 = 2", L"expect 645 checked", L"expect 646 unchecked",
                      L"expect 619 unchecked", L"expect 616 checked", L"expect 618 checked", L"expect 612 unchecked",
                      L"ok"},
                     [&] { collect.Run(); }))
        << Transcript();
    EXPECT_EQ(307u, collect.options);
    EXPECT_EQ(6u, collect.choices);
    EXPECT_EQ(2u, collect.copies);

    collect.choices = 0xF0 | 1;
    ASSERT_TRUE(Play({L"ok"}, [&] { collect.Run(); })) << Transcript();
    EXPECT_EQ(1u, collect.choices);
}

TEST_F(Dialogs, CancelHandsNothingBack) {
    Collect collect;
    ASSERT_TRUE(Play({L"click 621", L"click 644", L"text 614 = 5", L"cancel"}, [&] { collect.Run(); })) << Transcript();
    EXPECT_FALSE(collect.result);
    EXPECT_EQ(307u, collect.options);
    EXPECT_EQ(2u, collect.copies);
}

TEST_F(Dialogs, AlertDefaultsAllOnAllOffAndOtherNamesKept) {
    Plugin::AlertEventSet events{L"startup", L"Custom"};
    bool result = false;
    auto run = [&] { result = Plugin::RunAlertSetup(nullptr, events); };
    ASSERT_TRUE(Play({L"expect 634 checked", L"expect 639 unchecked", L"expect 611 has событиях", L"click 621",
                      L"expect 634 unchecked", L"expect 635 unchecked", L"expect 636 checked", L"expect 637 unchecked",
                      L"expect 638 unchecked", L"expect 639 checked", L"expect 640 unchecked", L"expect 641 unchecked",
                      L"expect 644 checked", L"expect 619 checked", L"ok"},
                     run))
        << Transcript();
    EXPECT_TRUE(result);
    EXPECT_EQ((Plugin::AlertEventSet{L"Custom", L"NextDay", L"BillCounterOverflow", L"Collect", L"ZReport"}), events);

    ASSERT_TRUE(Play({L"click 642", L"click 637", L"ok"}, run)) << Transcript();
    EXPECT_EQ(10u, events.size()) << "all on but Payment, and Custom";
    EXPECT_FALSE(events.count(L"Payment"));

    ASSERT_TRUE(Play({L"click 643", L"expect 644 unchecked", L"click 640", L"ok"}, run)) << Transcript();
    EXPECT_EQ((Plugin::AlertEventSet{L"Custom", L"NoStacker"}), events);
}

// The limit written as the page's bits: 1 count limit, 2 sum limit, 16 notice, 32 failure, 64 blocking.
struct Limit {
    unsigned bits = 0, count = 0, sum = 0;
    bool result = false;
    void Run() {
        using Plugin::StackerLimit;
        static const std::pair<unsigned, bool StackerLimit::*> kBits[] = {{1, &StackerLimit::countLimited},
                                                                         {2, &StackerLimit::sumLimited},
                                                                         {16, &StackerLimit::notice},
                                                                         {32, &StackerLimit::failure},
                                                                         {64, &StackerLimit::blocking}};
        StackerLimit limit;
        for (const auto& [bit, field] : kBits) limit.*field = (bits & bit) != 0;
        limit.countLimit = count;
        limit.sumLimit = sum;
        result = Plugin::RunStackerLimit(nullptr, limit);
        if (!result) return;
        bits = 0;
        for (const auto& [bit, field] : kBits) bits |= limit.*field ? bit : 0;
        count = limit.countLimit;
        sum = limit.sumLimit;
    }
};

TEST_F(Dialogs, LimitCaptionShowsTheCurrencyAndUncheckedLimitsKeepTheirValues) {
    RegKey options(HKEY_LOCAL_MACHINE, Plugin::kOptionsKey, true, kRegWriteAccess);
    options[L"Currency Suffix"] = L"у.е.";
    Limit limit;
    limit.bits = 2 | 32;
    limit.count = 500;
    limit.sum = 100000;
    ASSERT_TRUE(Play({L"expect 627 = Предельная &сумма в стекере, у.е.:", L"expect 625 = 500", L"expect 625 disabled",
                      L"expect 626 disabled", L"expect 628 enabled", L"expect 632 checked",
                      L"expect 632 = Выставить &отказ \"Переполнение по счётчику\"", L"text 625 = 7",
                      L"text 628 = 250000", L"click 631", L"click 632", L"ok"},
                     [&] { limit.Run(); }))
        << Transcript();
    EXPECT_TRUE(limit.result);
    EXPECT_EQ(2u | 16, limit.bits);
    EXPECT_EQ(500u, limit.count) << "the unchecked count limit keeps its value";
    EXPECT_EQ(250000u, limit.sum);

    ASSERT_TRUE(Play({L"click 624", L"expect 625 enabled", L"click 627", L"expect 629 disabled", L"text 625 = 40",
                      L"text 628 = nonsense", L"ok"},
                     [&] { limit.Run(); }))
        << Transcript();
    EXPECT_EQ(1u | 16, limit.bits);
    EXPECT_EQ(40u, limit.count);
    EXPECT_EQ(250000u, limit.sum);
}

TEST_F(Dialogs, LimitRefusedThenCancelledChangesNothing) {
    Limit limit;
    limit.bits = 16;
    limit.count = 10;
    ASSERT_TRUE(Play({L"click 624", L"click 633", L"text 625 = 99999999999", L"ok", L"cancel"}, [&] { limit.Run(); }))
        << Transcript();
    EXPECT_EQ(1u, Host::Boxes::All().size());
    EXPECT_FALSE(limit.result);
    EXPECT_EQ(16u, limit.bits);
    EXPECT_EQ(10u, limit.count);
}

// ---- the framework's dialog -----------------------------------------------------------------------

TEST_F(Dialogs, MissingTemplateRaisesAndAFailingHandlerIsShownNotUnwound) {
    DDialog missing(GetModuleHandleW(nullptr), L"NoSuchTemplate", nullptr);
    EXPECT_THROW(missing.Execute(), WindowsError);

    struct Failing : DDialog {
        Failing() : DDialog(GetModuleHandleW(nullptr), L"DlgStackerLimit", nullptr) {}
        bool Command(WORD id, WORD code, HWND control) override {
            if (id == 624) throw VelmorException(std::wstring(L"обработчик упал"));
            return DDialog::Command(id, code, control);
        }
    } failing;
    INT_PTR result = 0;
    ASSERT_TRUE(Play({L"click 624", L"expect 624 checked", L"ok"}, [&] { result = failing.Execute(); })) << Transcript();
    EXPECT_EQ(IDOK, result);
    ASSERT_EQ(1u, Host::Boxes::All().size());
    EXPECT_EQ(L"обработчик упал", Host::Boxes::All()[0].text);
}

// ---- the steps themselves ------------------------------------------------------------------------

TEST_F(Dialogs, ADialogWithNoStepLeftIsCancelledAndFailsTheLine) {
    Collect collect;
    collect.options = 0;
    EXPECT_FALSE(Play({L"click 644"}, [&] { collect.Run(); }));
    EXPECT_NE(std::string::npos, Transcript().find("none left; the dialog is cancelled")) << Transcript();
    EXPECT_FALSE(collect.result);
    EXPECT_EQ(0u, collect.options) << "a cancelled dialog hands nothing back";
}

TEST_F(Dialogs, StepsLeftOverAndFailedStepsFailWithTheirLine) {
    Collect collect;
    EXPECT_FALSE(Play({L"ok", L"click 644"}, [&] { collect.Run(); }));
    EXPECT_NE(std::string::npos, Transcript().find("1 dialog step(s) left over, the first from steps:2")) << Transcript();

    transcript_.clear();
    EXPECT_FALSE(Play({L"expect 644 unchecked", L"click 9999", L"ok"}, [&] { collect.Run(); }));
    EXPECT_NE(std::string::npos, Transcript().find("FAIL steps:1: expected dialog 644 unchecked, found checked"))
        << Transcript();
    EXPECT_NE(std::string::npos, Transcript().find("FAIL steps:2:")) << Transcript();
    EXPECT_NE(std::string::npos, Transcript().find("no control 9999")) << Transcript();
    EXPECT_TRUE(collect.result) << "play goes on after a failed step";

    transcript_.clear();
    collect.options = 0;
    EXPECT_FALSE(Play({L"click 617", L"cancel"}, [&] { collect.Run(); }));
    EXPECT_NE(std::string::npos, Transcript().find("control 617 is disabled")) << Transcript();

    EXPECT_FALSE(scenario_.RunLine(L"dialog expect 644 maybe", L"steps", 1)) << "a malformed step fails when queued";
    EXPECT_FALSE(scenario_.RunLine(L"dialog press 1", L"steps", 2));
}

// ---- pictures ------------------------------------------------------------------------------------

// Decodes a PNG file with the system's own codecs into top-down RGB rows.
std::vector<uint8_t> DecodePngHere(const std::wstring& path, UINT& width, UINT& height) {
    IWICImagingFactory* factory = nullptr;
    EXPECT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)));
    std::vector<uint8_t> rgb;
    if (!factory) return rgb;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    if (SUCCEEDED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
        SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat24bppRGB, WICBitmapDitherTypeNone, nullptr, 0,
                                        WICBitmapPaletteTypeCustom)) &&
        SUCCEEDED(converter->GetSize(&width, &height))) {
        rgb.resize(size_t(width) * height * 3);
        EXPECT_HRESULT_SUCCEEDED(converter->CopyPixels(nullptr, width * 3, UINT(rgb.size()), rgb.data()));
    }
    if (converter) converter->Release();
    if (frame) frame->Release();
    if (decoder) decoder->Release();
    factory->Release();
    return rgb;
}

// WIC finds its codecs under HKEY_CLASSES_ROOT, which the tests' scratch registry hides.
std::vector<uint8_t> DecodePng(const std::wstring& path, UINT& width, UINT& height) {
    std::vector<uint8_t> rgb;
    ScratchRegistry::WithRealClasses([&] { rgb = DecodePngHere(path, width, height); });
    return rgb;
}

TEST(Snapshot, PngEncodingDecodesToTheSamePixels) {
    TempFolder folder;
    // Wide enough that the image data needs more than one stored block.
    const unsigned width = 300, height = 80;
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint8_t(i * 7 + i / 901);
    std::string png = Host::EncodePng(width, height, rgb);
    std::wstring path = Widen(folder.Path()) + L"\\picture.png";
    std::ofstream(path.c_str(), std::ios::binary).write(png.data(), std::streamsize(png.size()));
    UINT decodedWidth = 0, decodedHeight = 0;
    std::vector<uint8_t> decoded = DecodePng(path, decodedWidth, decodedHeight);
    EXPECT_EQ(width, decodedWidth);
    EXPECT_EQ(height, decodedHeight);
    EXPECT_TRUE(decoded == rgb) << "pixels differ after decoding";
    EXPECT_THROW(Host::EncodePng(2, 2, std::vector<uint8_t>(11)), VelmorException);
}

TEST_F(Dialogs, SnapshotStepPicturesTheOpenDialog) {
    TempFolder folder;
    std::wstring path = Widen(folder.Path()) + L"\\limit.png";
    Limit limit;
    std::wstring step = L"snapshot " + path;
    ASSERT_TRUE(Play({step.c_str(), L"cancel"}, [&] { limit.Run(); })) << Transcript();
    UINT width = 0, height = 0;
    std::vector<uint8_t> rgb = DecodePng(path, width, height);
    EXPECT_GT(width, 200u);
    EXPECT_GT(height, 100u);
    // A dialog is not one flat colour: its text and frame show.
    ASSERT_FALSE(rgb.empty());
    EXPECT_NE(rgb.end(), std::find_if(rgb.begin(), rgb.end(), [&](uint8_t v) { return v != rgb[0]; }));
}

}  // namespace
