// The Torvin04/05 firmware updater on Windows: the main window and its message loop.

#include "app/CommandLine.h"
#include "app/Texts.h"
#include "app/win32/Answer.h"
#include "app/win32/Boxes.h"
#include "app/win32/FrameworkBridge.h"
#include "app/win32/TForm1.h"
#include "framework/Win32Text.h"
#include "frontend/UserLanguage.h"

#include <windows.h>

#include <shellapi.h>

#include <exception>
#include <string>
#include <vector>

namespace {

std::vector<std::string> arguments() {
    int count = 0;
    wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i)
        args.push_back(fw::win32::narrow(list[i]));
    LocalFree(list);
    return args;
}

// One window in the session: a second start brings the first forward rather than open another
// exactly over it (a technician could close the wrong one). True when the first is there.
bool firstWindowBroughtForward() {
    // Kept until the program ends, which releases it.
    static HANDLE once = CreateMutexW(nullptr, FALSE, L"Local\\torvin-updater-window");
    if (!once || GetLastError() != ERROR_ALREADY_EXISTS) return false;
    HWND first = FindWindowW(L"TorvinForm", fw::win32::widen(app::programTitle).c_str());
    if (first && IsWindowVisible(first)) {
        SetForegroundWindow(GetLastActivePopup(first));
    } else {
        // Still at its start-up warning, or closing.
        MessageBoxW(nullptr, L"O atualizador já está aberto nesta sessão.",
                    fw::win32::widen(app::programTitle).c_str(), MB_OK | MB_ICONINFORMATION);
    }
    return true;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using app::CommandLine;
    upload::frontend::useUserLanguage();
    const CommandLine options = app::parseCommandLine(arguments());
    switch (options.action) {
    case CommandLine::Help:
        app::win32::answer(app::helpText(), false);
        return 0;
    case CommandLine::Version:
        app::win32::answer(app::versionText(), false);
        return 0;
    case CommandLine::Fail:
        app::win32::answer(options.error + "\nTry '" + app::programName + " --help'.\n", true);
        return app::exitBadOption;
    case CommandLine::Run:
        break;
    }

    if (firstWindowBroughtForward()) return 0;
    try {
        app::win32::FrameworkBridge pump;
        app::win32::TForm1 form(options.port);
        form.show();
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (IsDialogMessageW(form.hwnd(), &message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        return 0;
    } catch (const std::exception& e) {
        app::win32::showErrorBox(nullptr, e.what());
        return 1;
    }
}
