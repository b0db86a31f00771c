// The Windows platform calls that need no display: the handshake's section
// writing, the executable path, action threads, a navigate that finds no
// window, and the container the game view offers the browser control.
#include <windows.h>
#include <exdisp.h>
#include <ole2.h>
#include <oleidl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/game_view.h"
#include "app/handshake.h"
#include "app/win32_game_view.h"
#include "hotkeys/hotkey_poller.h"

namespace {

constexpr DWORD SECTION_SIZE = 16;
const unsigned char FILLED[SECTION_SIZE] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                            0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0xFF};

struct SectionCase {
    const char* what;
    DWORD protection;       // of the section we create; 0: none is created
    bool zeroed;            // the first three bytes become 0
};

class HandshakeSection : public ::testing::TestWithParam<SectionCase> {};

}  // namespace

TEST_P(HandshakeSection, WritesThreeZeroBytesWhenItCan) {
    const SectionCase c = GetParam();
    const std::string name = "vellmir-test-section-" + std::to_string(GetCurrentProcessId()) +
                             "-" + std::to_string(c.protection);
    HANDLE section = nullptr;
    unsigned char* view = nullptr;
    if (c.protection != 0) {
        // Filled through a writable section of our own, then, for the
        // read-only case, a second name opened read-only is not possible:
        // the section itself is created with the protection under test.
        section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, c.protection, 0, SECTION_SIZE,
                                     name.c_str());
        ASSERT_NE(section, nullptr) << GetLastError();
        const DWORD access = (c.protection & 0xFF) == PAGE_READONLY ? FILE_MAP_READ : FILE_MAP_WRITE;
        view = static_cast<unsigned char*>(MapViewOfFile(section, access, 0, 0, 0));
        ASSERT_NE(view, nullptr);
        if (access == FILE_MAP_WRITE && (c.protection & SEC_RESERVE) == 0)
            std::memcpy(view, FILLED, SECTION_SIZE);
    }

    clear_handshake_section(name.c_str());  // must neither fail nor crash

    if (view != nullptr && (c.protection & SEC_RESERVE) == 0) {
        for (DWORD i = 0; i < SECTION_SIZE; ++i) {
            const bool zero_here = c.zeroed && i < HANDSHAKE_ZERO_BYTES;
            const unsigned char before = (c.protection & 0xFF) == PAGE_READONLY ? 0 : FILLED[i];
            EXPECT_EQ(view[i], zero_here ? 0 : before) << "byte " << i;
        }
    }
    if (view != nullptr)
        UnmapViewOfFile(view);
    if (section != nullptr)
        CloseHandle(section);
}

INSTANTIATE_TEST_SUITE_P(Sections, HandshakeSection, ::testing::Values(
    SectionCase{"writable", PAGE_READWRITE, true},
    SectionCase{"missing", 0, false},
    SectionCase{"read-only: no writable view", PAGE_READONLY, false},
    // Pages reserved but not committed: writing would fault.
    SectionCase{"reserved only", PAGE_READWRITE | SEC_RESERVE, false}
), [](const ::testing::TestParamInfo<SectionCase>& info) {
    std::string name;
    for (const char* p = info.param.what; *p != '\0' && *p != ':'; ++p)
        name += (*p >= 'a' && *p <= 'z') ? *p : '_';
    return name;
});

TEST(ExecutablePath, FileNameOfThisProcess) {
    const std::string path = own_executable_path();
    const std::string_view name = executable_file_name(path, executable_path_separator(),
                                                       executable_path_lead_byte_test());
    EXPECT_EQ(name, "win32_platform_tests.exe");
    EXPECT_FALSE(has_tmp_suffix(name));
}

namespace {

HANDLE action_done = nullptr;
volatile LONG action_id = 0;
volatile DWORD action_thread = 0;

void record_action(int32_t id) {
    action_thread = GetCurrentThreadId();
    InterlockedExchange(&action_id, id);
    SetEvent(action_done);
}

}  // namespace

TEST(ActionThread, RunsTheCallbackWithItsIdOnAnotherThread) {
    action_done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(action_done, nullptr);
    for (const int32_t id : {1000001, 1000002, -7}) {
        start_action_thread(record_action, id);
        ASSERT_EQ(WaitForSingleObject(action_done, 30000), WAIT_OBJECT_0);
        EXPECT_EQ(action_id, id);
        EXPECT_NE(action_thread, GetCurrentThreadId());
    }
    CloseHandle(action_done);
}

namespace {
DWORD WINAPI navigate_from_thread(LPVOID) {
    navigate("javascript:toggleSound(0)");
    return 0;
}
}  // namespace

// With no main window (never opened, or already closed) a navigate from
// another thread is dropped at once.
TEST(Navigate, FromAnotherThreadWithoutWindowReturns) {
    HANDLE thread = CreateThread(nullptr, 0, navigate_from_thread, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    CloseHandle(thread);
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) << "nothing was queued";
}

// ---------------------------------------------------------------------------
// The game view's container, as a control embedded in it sees it.

namespace {

struct BorderCase {
    const char* what;
    bool null;
    BORDERWIDTHS widths;
    bool granted;
};

constexpr BorderCase BORDER_CASES[] = {
    {"null: no border space wanted", true, {0, 0, 0, 0}, true},
    {"all widths 0", false, {0, 0, 0, 0}, true},
    {"a toolbar's width on top", false, {0, 24, 0, 0}, false},
};

// What the stand-in control learnt from its site while being activated in
// place, the way a real control asks before it makes its windows.
struct SiteSeen {
    bool activated = false;
    HWND site_window = nullptr;
    HWND site_window_parent = nullptr;
    HWND frame_window = nullptr;
    HWND frame_info_window = nullptr;
    HRESULT border[sizeof BORDER_CASES / sizeof BORDER_CASES[0]] = {};
};
SiteSeen seen;

// Stands in for the WebBrowser control: it only answers IOleObject, so the
// game view's creation fails once the control has been activated, and is
// torn down again.
class StandInControl final : public IOleObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IOleObject)
            return E_NOINTERFACE;
        *object = static_cast<IOleObject*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override {
        if (site != nullptr)
            site->AddRef();
        if (site_ != nullptr)
            site_->Release();
        site_ = site;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override {
        *site = site_;
        if (site_ != nullptr)
            site_->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* client, LONG, HWND,
                                     LPCRECT) override {
        if (verb == OLEIVERB_INPLACEACTIVATE && client != nullptr)
            look_at_site(client);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close(DWORD) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

private:
    ~StandInControl() {
        if (site_ != nullptr)
            site_->Release();
    }

    static void look_at_site(IOleClientSite* client) {
        IOleInPlaceSite* site = nullptr;
        if (FAILED(client->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site))))
            return;
        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* document = nullptr;
        RECT position, clip;
        OLEINPLACEFRAMEINFO info = {};
        info.cb = sizeof info;
        if (site->CanInPlaceActivate() == S_OK &&
            SUCCEEDED(site->GetWindowContext(&frame, &document, &position, &clip, &info))) {
            seen.activated = true;
            site->GetWindow(&seen.site_window);
            seen.site_window_parent = GetParent(seen.site_window);
            frame->GetWindow(&seen.frame_window);
            seen.frame_info_window = info.hwndFrame;
            for (std::size_t i = 0; i < sizeof BORDER_CASES / sizeof BORDER_CASES[0]; ++i)
                seen.border[i] =
                    frame->SetBorderSpace(BORDER_CASES[i].null ? nullptr : &BORDER_CASES[i].widths);
            frame->Release();
            if (document != nullptr)
                document->Release();
        }
        site->Release();
    }

    LONG references_ = 1;
    IOleClientSite* site_ = nullptr;
};

class StandInFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives as long as the test
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        auto* control = new StandInControl;
        const HRESULT result = control->QueryInterface(iid, object);
        control->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

// The in-place frame is the top-level window, not the game view's child
// window (that is the in-place site's), and a control that wants no border
// space is told that is fine. Needs a display.
TEST(GameViewContainer, FrameIsTheTopLevelWindowAndNoBorderSpaceIsGranted) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    StandInFactory factory;
    DWORD registration = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_WebBrowser, &factory, CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &registration),
              S_OK);
    const HWND top = CreateWindowExW(0, L"STATIC", L"frame", WS_OVERLAPPED, 0, 0, 300, 200, nullptr,
                                     nullptr, GetModuleHandleW(nullptr), nullptr);
    if (top == nullptr) {
        CoRevokeClassObject(registration);
        OleUninitialize();
        GTEST_SKIP() << "no window can be made here (no display): the Wine end-to-end tests run "
                        "this on one";
    }
    seen = SiteSeen{};

    EXPECT_EQ(create_game_view(top, -5, -5, 400, 300), nullptr) << "the stand-in has no browser";

    ASSERT_TRUE(seen.activated);
    EXPECT_EQ(seen.site_window_parent, top);
    EXPECT_NE(seen.site_window, top);
    EXPECT_EQ(seen.frame_window, top);
    EXPECT_EQ(seen.frame_info_window, top);
    for (std::size_t i = 0; i < sizeof BORDER_CASES / sizeof BORDER_CASES[0]; ++i)
        EXPECT_EQ(SUCCEEDED(seen.border[i]), BORDER_CASES[i].granted) << BORDER_CASES[i].what;

    DestroyWindow(top);
    CoRevokeClassObject(registration);
    OleUninitialize();
}
