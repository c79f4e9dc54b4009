// A program whose only loop is the Win32 one (GetMessage/DispatchMessage, or a message box's
// modal loop) gets the port's events, the calls queued for its main thread and the system's
// notices about serial adapters; the port list as the system gives it.

#include "PtyPeer.h"

#include "comport/ComPort.h"
#include "comport/SerialPorts.h"
#include "framework/MainThread.h"
#include "framework/MessageWindow.h"
#include "framework/Win32MessageLoop.h"

#include <windows.h>

#include <dbt.h>
#include <devguid.h>
#include <gtest/gtest.h>
#include <setupapi.h>

#include <algorithm>
#include <optional>
#include <thread>

using namespace comport;

namespace {

// The thread's message loop, until `done()` holds or two seconds have passed (a thread timer
// ends it then).
template <typename Pred> bool pumpUntil(Pred done) {
    const UINT_PTR timer = SetTimer(nullptr, 0, 2000, nullptr);
    MSG msg;
    while (!done() && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && !msg.hwnd && msg.wParam == timer) break;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    KillTimer(nullptr, timer);
    return done();
}

// The message box this thread shows, if any.
HWND messageBoxOfThisThread() {
    HWND found = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM out) -> BOOL {
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (std::wstring(name) != L"#32770") return TRUE;
            *reinterpret_cast<HWND*>(out) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

} // namespace

TEST(NativeMessageLoop, DeliversArrivingBytesUnderWindowAndThreadSync) {
    for (TSyncMethod method : {smWindowSync, smThreadSync}) {
        SCOPED_TRACE(method == smWindowSync ? "smWindowSync" : "smThreadSync");
        // smWindowSync needs nothing but the loop: the port's hidden window is a system window.
        std::optional<fw::TMessageLoopService> service;
        if (method == smThreadSync) service.emplace();
        wintest::PtyLine line{6};
        TComPort port;
        port.setPort(line.portName());
        port.setSyncMethod(method);
        std::string got;
        DWORD handledOn = 0;
        port.OnRxChar = [&](fw::TObject*, std::int32_t count) {
            std::uint8_t buffer[64];
            const auto n = port.readBytes(buffer, std::min<std::int32_t>(count, sizeof buffer));
            got.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
            handledOn = GetCurrentThreadId();
        };
        port.openPort();
        // Twice: the second time nothing is left from starting up to carry it.
        std::string sent;
        for (const std::string text : {"[N]", "(%P31)"}) {
            sent += text;
            line.send(text);
            EXPECT_TRUE(pumpUntil([&] { return got.size() >= sent.size(); })) << got;
        }
        EXPECT_EQ(got, sent);
        EXPECT_EQ(handledOn, GetCurrentThreadId());
        port.closePort();
    }
}

// The hidden window is a system window: what the system's own calls send or post to it runs its
// procedure, from the loop for a posted one.
TEST(NativeMessageLoop, HiddenWindowAnswersTheSystemsCalls) {
    std::vector<std::uintptr_t> seen;
    fw::TMessageWindow window([&](fw::TMessage& m) {
        seen.push_back(m.wParam);
        m.result = static_cast<std::intptr_t>(m.wParam) * 2;
    });
    HWND native = static_cast<HWND>(window.nativeHandle());
    ASSERT_NE(native, nullptr);
    EXPECT_EQ(SendMessageW(native, fw::wmUser + 1, 21, 0), 42);
    ASSERT_TRUE(PostMessageW(native, fw::wmUser + 1, 5, 0));
    EXPECT_TRUE(pumpUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (std::vector<std::uintptr_t>{21, 5}));
}

// A call another thread queues while the main thread sits in MessageBox runs there; the call
// itself closes the box. Should it never run, a later timer closes the box with another answer.
TEST(NativeMessageLoop, ServesQueuedCallsInsideAMessageBox) {
    fw::TMessageLoopService service;
    static std::optional<std::thread> worker;
    static bool boxWasOpen = false;
    boxWasOpen = false;
    // Timers fire only from a loop, here the box's: the box is up when the thread starts.
    SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        worker.emplace([] {
            fw::synchronize([] {
                HWND box = messageBoxOfThisThread();
                boxWasOpen = box != nullptr;
                if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
            });
        });
    });
    const UINT_PTR rescue = SetTimer(nullptr, 0, 5000, [](HWND, UINT, UINT_PTR, DWORD) {
        if (HWND box = messageBoxOfThisThread()) PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    });
    const int answer = MessageBoxW(nullptr, L"Aguarde", L"torvin test", MB_OKCANCEL);
    KillTimer(nullptr, rescue);
    // A call left unserved by the box is served here, so that the thread can end.
    for (int i = 0; i < 200 && worker && !boxWasOpen; ++i)
        fw::waitForSynchronize(std::chrono::milliseconds(10));
    if (worker) worker->join();
    worker.reset();
    EXPECT_EQ(answer, IDOK);
    EXPECT_TRUE(boxWasOpen);
}

// What the system tells about serial adapters reaches the watch through the loop of the thread
// that made it: a serial port interface or a port arriving or going, nothing else.
TEST(NativeMessageLoop, AdapterWatchTakesTheSystemsNoticesAboutSerialPorts) {
    int notices = 0;
    std::optional<SerialPortWatch> watch;
    ASSERT_NO_THROW(watch.emplace([&] { ++notices; }));
    EXPECT_EQ(watch->descriptor(), -1);
    HWND window = FindWindowW(L"TorvinSerialPortWatch", nullptr);
    ASSERT_NE(window, nullptr);

    DEV_BROADCAST_DEVICEINTERFACE_W serial{};
    serial.dbcc_size = sizeof serial;
    serial.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    serial.dbcc_classguid = {
        0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};
    DEV_BROADCAST_DEVICEINTERFACE_W usbDevice = serial; // GUID_DEVINTERFACE_USB_DEVICE
    usbDevice.dbcc_classguid = {
        0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};
    DEV_BROADCAST_PORT_W port{};
    port.dbcp_size = sizeof port;
    port.dbcp_devicetype = DBT_DEVTYP_PORT;
    struct Case {
        const char* what;
        WPARAM event;
        const void* data;
        bool counts;
    };
    const Case cases[] = {
        {"a serial port interface arrives", DBT_DEVICEARRIVAL, &serial, true},
        {"a port goes", DBT_DEVICEREMOVECOMPLETE, &port, true},
        {"another interface arrives", DBT_DEVICEARRIVAL, &usbDevice, false},
        {"a serial port is asked whether it may go", DBT_DEVICEQUERYREMOVE, &serial, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        notices = 0;
        // Sent from another thread, as the system's notices come: the loop serves it.
        bool answered = false;
        std::thread sender([&] {
            SendMessageW(window, WM_DEVICECHANGE, c.event, reinterpret_cast<LPARAM>(c.data));
            answered = true;
            PostThreadMessageW(GetWindowThreadProcessId(window, nullptr), WM_NULL, 0, 0);
        });
        pumpUntil([&] { return answered; });
        sender.join();
        EXPECT_EQ(notices, c.counts ? 1 : 0);
        EXPECT_EQ(watch->changed(), c.counts);
        EXPECT_FALSE(watch->changed());
    }
    watch.reset();
    EXPECT_EQ(FindWindowW(L"TorvinSerialPortWatch", nullptr), nullptr);
}

// A port the system's Ports class lists, under the name Device Manager shows: a device made for
// the test (COM21, COM3) beside whatever the system has; every entry a COM name, COM3 before
// COM21.
TEST(NativeMessageLoop, SystemPortListHasDeviceManagersNames) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    std::vector<SP_DEVINFO_DATA> made;
    for (const auto& [port, name] : {std::pair(L"COM21", L"Adaptador de teste (COM21)"),
                                     std::pair(L"COM3", L"Porta de teste (COM3)")}) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        ASSERT_TRUE(SetupDiCreateDeviceInfoW(set, L"Ports", &GUID_DEVCLASS_PORTS, nullptr, nullptr,
                                             DICD_GENERATE_ID, &device))
            << GetLastError();
        ASSERT_TRUE(SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr));
        made.push_back(device);
        const std::wstring friendly = name;
        SetupDiSetDeviceRegistryPropertyW(
            set, &device, SPDRP_FRIENDLYNAME, reinterpret_cast<const BYTE*>(friendly.c_str()),
            static_cast<DWORD>((friendly.size() + 1) * sizeof(wchar_t)));
        HKEY key =
            SetupDiCreateDevRegKeyW(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
        ASSERT_NE(key, INVALID_HANDLE_VALUE);
        const std::wstring portName = port;
        RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(portName.c_str()),
                       static_cast<DWORD>((portName.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    std::vector<SerialPortInfo> adapters;
    ASSERT_NO_THROW(adapters = serialPortsPresent());
    for (auto& device : made)
        SetupDiRemoveDevice(set, &device);
    SetupDiDestroyDeviceInfoList(set);

    std::vector<std::string> labels;
    for (const auto& a : adapters) {
        EXPECT_TRUE(a.devicePath.starts_with("COM")) << a.devicePath;
        labels.push_back(describe(a));
    }
    const auto at = [&](const std::string& label) {
        return std::find(labels.begin(), labels.end(), label) - labels.begin();
    };
    ASSERT_LT(at("Adaptador de teste (COM21)"), std::ssize(labels))
        << ::testing::PrintToString(labels);
    EXPECT_LT(at("Porta de teste (COM3)"), at("Adaptador de teste (COM21)"));
}
