// The Windows platform calls that need no display: the handshake's section
// writing, the executable path, action threads, and a navigate that finds no
// window.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/game_view.h"
#include "app/handshake.h"
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
