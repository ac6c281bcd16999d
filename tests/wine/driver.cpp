// Works ostrakan.exe under Wine the way a user would: it starts the program,
// finds its window by class, types into the edits, chooses menu commands, clicks
// buttons and check boxes through their ids, presses keys, and reads what the
// fields show. The far end of the port is the simulated controller and modem.
//
// Usage: ostrakan_wine_driver <ostrakan.exe> <work directory> <port name>
// The work directory becomes the program's current directory ("_data.ini").
// Exit code 0 when every check passed.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "resources/resource.h"

namespace {

int failures = 0;
int checks = 0;
HWND mainWindow = nullptr;
std::string workDir;
std::string exePath;
DWORD programId = 0;

// The program's own threads: those whose start address lies in ostrakan.exe's
// image (its main thread, and the reader and writer while the port is open).
// Threads that the system starts inside the process for its own work begin
// elsewhere and are not counted.
int programThreads() {
    using QueryThread = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<QueryThread>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    constexpr int kThreadQuerySetWin32StartAddress = 9;
    if (!query) return -1;

    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, programId);
    if (modules == INVALID_HANDLE_VALUE) return -1;
    MODULEENTRY32 m{};
    m.dwSize = sizeof m;
    std::uintptr_t base = 0, end = 0;
    if (Module32First(modules, &m)) {  // the first module is the executable
        base = reinterpret_cast<std::uintptr_t>(m.modBaseAddr);
        end = base + m.modBaseSize;
    }
    CloseHandle(modules);
    if (!base) return -1;

    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 t{};
    t.dwSize = sizeof t;
    int n = 0;
    for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t)) {
        if (t.th32OwnerProcessID != programId) continue;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, t.th32ThreadID);
        if (!thread) continue;
        void* start = nullptr;
        if (query(thread, kThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) == 0) {
            const auto at = reinterpret_cast<std::uintptr_t>(start);
            if (at >= base && at < end) ++n;
        }
        CloseHandle(thread);
    }
    CloseHandle(snap);
    return n;
}

void report(bool ok, const std::string& what, const std::string& detail = "") {
    ++checks;
    if (!ok) ++failures;
    std::printf("%s - %s%s%s\n", ok ? "ok" : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
    std::fflush(stdout);
}

DWORD now() { return GetTickCount(); }

// Polls `ready` every 50 ms until it holds or `limitMs` has passed.
template <typename Ready>
bool waitUntil(Ready ready, DWORD limitMs) {
    const DWORD start = now();
    for (;;) {
        if (ready()) return true;
        if (now() - start >= limitMs) return false;
        Sleep(50);
    }
}

// A control's text as code-page-1251 bytes, read through the wide API so the
// check does not depend on this machine's own code page.
std::string textOf(HWND control) {
    wchar_t wide[1024] = {};
    SendMessageTimeoutW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(wide), SMTO_BLOCK,
                        5000, nullptr);
    char bytes[2048] = {};
    const int n = WideCharToMultiByte(1251, 0, wide, -1, bytes, sizeof bytes, nullptr, nullptr);
    return n > 0 ? std::string(bytes, static_cast<std::size_t>(n - 1)) : std::string();
}

void typeInto(HWND control, const std::string& text1251) {
    wchar_t wide[1024] = {};
    MultiByteToWideChar(1251, 0, text1251.c_str(), -1, wide, 1024);
    SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide), SMTO_BLOCK, 5000,
                        nullptr);
}

HWND item(int id) { return GetDlgItem(mainWindow, id); }

std::string classOf(HWND w) {
    char name[64] = {};
    GetClassNameA(w, name, sizeof name);
    return name;
}

// Parameter field 0's edit shares id 3139 with channel 31's BX box; a user
// reaches it by where it is, so look for the edit among the children.
HWND parameterEdit(int k) {
    if (k != 0) return item(IDC_PARAMETER_EDIT_BASE + k);
    for (HWND c = GetWindow(mainWindow, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (GetDlgCtrlID(c) == IDC_PARAMETER_EDIT_BASE && _stricmp(classOf(c).c_str(), "Edit") == 0)
            return c;
    return nullptr;
}

// A menu item or an accelerator: WM_COMMAND with notification 0, as a menu sends it.
void menuCommand(int id) { PostMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

// A mouse click on a button or check box.
void click(int id) {
    SendMessageTimeoutA(item(id), BM_CLICK, 0, 0, SMTO_BLOCK, 5000, nullptr);
}

int checkState(int id) { return static_cast<int>(IsDlgButtonChecked(mainWindow, id)); }

bool textBecomes(HWND control, const std::string& expected, DWORD limitMs) {
    return waitUntil([&] { return textOf(control) == expected; }, limitMs);
}

void expectText(HWND control, const std::string& expected, DWORD limitMs, const std::string& what) {
    const bool ok = textBecomes(control, expected, limitMs);
    report(ok, what, ok ? "" : "shows \"" + textOf(control) + "\", expected \"" + expected + "\"");
}

// A procedure takes what it sends from the controls on one of the next ticks
// (54 ms each); nothing on screen tells when. Pacing only, never a check.
void letTicksPass() { Sleep(1000); }

// Presses Read until the field shows the expected text: a request made while
// another procedure still runs is dropped, as it would be for a user.
bool readUntil(int readId, HWND field, const std::string& expected, DWORD limitMs) {
    const DWORD start = now();
    while (now() - start < limitMs) {
        click(readId);
        if (textBecomes(field, expected, 4000)) return true;
    }
    return false;
}

void portCommand(int id, const std::string& name, const std::string& expected,
                 const std::string& what) {
    if (!name.empty()) typeInto(item(IDC_PORT_NAME), name);
    typeInto(item(IDC_PORT_STATUS), "");
    menuCommand(id);
    expectText(item(IDC_PORT_STATUS), expected, 5000, what);
}

std::string readFileBytes(const std::string& path) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return "<missing>";
    char buffer[512];
    DWORD n = 0;
    ReadFile(f, buffer, sizeof buffer, &n, nullptr);
    CloseHandle(f);
    return std::string(buffer, n);
}

void writeFileBytes(const std::string& path, const std::string& bytes) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    CloseHandle(f);
}

std::string visible(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c < 0x20 || c >= 0x80) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else out += static_cast<char>(c);
    }
    return out;
}

// ---- keyboard --------------------------------------------------------------

void key(WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyA(vk, 0));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &in, sizeof in);
}

// Brings the main window to the front and gives `target` (the window itself or
// one of its controls) the keyboard focus.
void focusWindow(HWND target) {
    const DWORD appThread = GetWindowThreadProcessId(mainWindow, nullptr);
    AttachThreadInput(GetCurrentThreadId(), appThread, TRUE);
    SetForegroundWindow(mainWindow);
    SetActiveWindow(mainWindow);
    SetFocus(target);
    AttachThreadInput(GetCurrentThreadId(), appThread, FALSE);
}

void focusMainWindow() { focusWindow(mainWindow); }

void altChord(bool shift) {
    key(VK_MENU, false);
    if (shift) key(VK_SHIFT, false);
    key(VK_OEM_2, false);  // the "/" and "?" key
    key(VK_OEM_2, true);
    if (shift) key(VK_SHIFT, true);
    key(VK_MENU, true);
}

void screenshotPause(const std::string& name);
bool askScript(const std::string& step, const std::string& text = "");
void typeOnKeyboard(HWND edit, const std::string& utf8);

HWND aboutBox() {
    HWND found = nullptr;
    for (HWND w = FindWindowExA(nullptr, nullptr, "#32770", nullptr); w;
         w = FindWindowExA(nullptr, w, "#32770", nullptr)) {
        char title[64] = {};
        GetWindowTextA(w, title, sizeof title);
        if (std::strcmp(title, "About") == 0 && IsWindowVisible(w)) found = w;
    }
    return found;
}

// ---- the scenario ----------------------------------------------------------

const char* const kWithoutInternet = "\xC1\xE5\xE7 \xE8\xED\xF2\xE5\xF0\xED\xE5\xF2\xE0.";

void startUpChecks() {
    char title[64] = {};
    GetWindowTextA(mainWindow, title, sizeof title);
    report(std::strcmp(title, "Ostrakan") == 0, "window title", title);
    RECT r{};
    GetWindowRect(mainWindow, &r);
    report(r.right - r.left == 950 && r.bottom - r.top == 780, "window is 950 x 780",
           std::to_string(r.right - r.left) + " x " + std::to_string(r.bottom - r.top));

    expectText(item(IDC_PORT_NAME), "COM1", 1000, "port name shows COM1 at start");
    expectText(item(IDC_PORT_STATUS), "", 1000, "port status is empty at start");
    expectText(item(IDC_QUERY_STATUS), "   ", 1000, "query status shows three spaces");
    expectText(item(IDC_SETUP_STATUS), "   ", 1000, "setup status shows three spaces");
    expectText(item(IDC_IP_ADDRESS), "10.1.2.3", 1000, "IP Address loaded from _data.ini");
    expectText(item(IDC_APN), "internet", 1000, "APN loaded from _data.ini");
    expectText(item(IDC_USER), "user1", 1000, "User loaded from _data.ini");
    expectText(item(IDC_PASSWORD), "pass1", 1000, "Password loaded from _data.ini");
    expectText(item(IDC_WITHOUT_INTERNET), kWithoutInternet, 1000,
               "check box caption is \"Bez interneta.\" in code page 1251");

    // Controls: classes, styles, places.
    report(_stricmp(classOf(item(3139)).c_str(), "Button") == 0,
           "id 3139 found by lookup is channel 31's BX box", classOf(item(3139)));
    HWND edit0 = parameterEdit(0);
    report(edit0 != nullptr, "parameter field 0's edit exists beside the 3139 box");
    const LONG editStyle = GetWindowLongA(edit0, GWL_STYLE);
    report((editStyle & (WS_CHILD | WS_VISIBLE | WS_DLGFRAME | ES_MULTILINE)) ==
               (WS_CHILD | WS_VISIBLE | WS_DLGFRAME | ES_MULTILINE),
           "parameter edit is a framed multi-line edit");
    const LONG boxStyle = GetWindowLongA(item(3047), GWL_STYLE);
    report((boxStyle & BS_TYPEMASK) == BS_CHECKBOX && (boxStyle & WS_TABSTOP),
           "channel box is a plain (program-toggled) check box");
    const LONG buttonStyle = GetWindowLongA(item(IDC_CHANNELS_READ), GWL_STYLE);
    report((buttonStyle & BS_TYPEMASK) == BS_DEFPUSHBUTTON, "Read is a default push button");
    const LONG nameStyle = GetWindowLongA(item(IDC_PORT_NAME), GWL_STYLE);
    report((nameStyle & WS_DLGFRAME) && !(nameStyle & ES_MULTILINE), "port name is a single-line edit");

    auto placeOf = [](HWND w) {
        RECT c{};
        GetWindowRect(w, &c);
        POINT p{c.left, c.top};
        ScreenToClient(mainWindow, &p);
        return std::to_string(p.x) + "," + std::to_string(p.y) + " " +
               std::to_string(c.right - c.left) + "x" + std::to_string(c.bottom - c.top);
    };
    report(placeOf(item(3124)) == "180,650 15x15", "channel 16 BX at 180,650", placeOf(item(3124)));
    report(placeOf(item(3139)) == "330,620 15x15", "channel 31 BX at 330,620", placeOf(item(3139)));
    report(placeOf(edit0) == "450,120 200x22", "parameter field 0 at 450,120", placeOf(edit0));
    report(placeOf(item(IDC_PORT_STATUS)) == "145,40 150x20", "status field at 145,40",
           placeOf(item(IDC_PORT_STATUS)));
    report(placeOf(item(IDC_WITHOUT_INTERNET)) == "610,670 160x20", "check box at 610,670",
           placeOf(item(IDC_WITHOUT_INTERNET)));

    // The edit fonts are not checked here: Wine answers WM_GETFONT from another
    // process with 0, and the screenshot shows them instead.

    // The menu: attached through the class, with the items of resource 109.
    report(GetMenu(mainWindow) != nullptr, "the main window has a menu bar");
    HMODULE image = LoadLibraryExA(exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HMENU bar = image ? LoadMenuA(image, MAKEINTRESOURCEA(IDC_OSTRAKAN)) : nullptr;
    wchar_t popupName[64] = {};
    GetMenuStringW(bar, 0, popupName, 64, MF_BYPOSITION);
    HMENU popup = GetSubMenu(bar, 0);
    wchar_t exitName[32] = {};
    GetMenuStringW(popup, 2, exitName, 32, MF_BYPOSITION);
    report(bar && std::wcscmp(popupName, L"Communication") == 0 && GetMenuItemCount(popup) == 3 &&
               GetMenuItemID(popup, 0) == IDM_OPEN_PORT &&
               GetMenuItemID(popup, 1) == IDM_CLOSE_PORT && GetMenuItemID(popup, 2) == IDM_EXIT &&
               std::wcscmp(exitName, L"E&xit") == 0,
           "\"Communication\" menu: Open the Port, Close the Port, E&xit");
    // The accelerators: Alt+? and Alt+/ as characters, both for About.
    HACCEL table = image ? LoadAcceleratorsA(image, MAKEINTRESOURCEA(IDC_OSTRAKAN)) : nullptr;
    ACCEL entries[4] = {};
    const int count = table ? CopyAcceleratorTableA(table, entries, 4) : 0;
    report(count == 2 && entries[0].key == '?' && entries[1].key == '/' &&
               entries[0].cmd == IDM_ABOUT && entries[1].cmd == IDM_ABOUT &&
               (entries[0].fVirt & (FALT | FVIRTKEY)) == FALT &&
               (entries[1].fVirt & (FALT | FVIRTKEY)) == FALT,
           "accelerators Alt+? and Alt+/ for About");
    if (image) FreeLibrary(image);
}

int threadsWhileClosed = 0;

void portChecks(const std::string& port) {
    portCommand(IDM_CLOSE_PORT, "", "The Port is closed.", "closing with nothing open");
    threadsWhileClosed = programThreads();
    portCommand(IDM_OPEN_PORT, "COM0", "Name is wrong.", "COM0 is a wrong name");
    portCommand(IDM_OPEN_PORT, "com5", "Name is wrong.", "com5 (lower case) is a wrong name");
    portCommand(IDM_OPEN_PORT, "COM257", "Name is wrong.", "COM257 is a wrong name");
    portCommand(IDM_OPEN_PORT, "COM200", "Port did't open!", "a port that does not exist");
    portCommand(IDM_OPEN_PORT, port, "The " + port + " is opened.", "opening " + port);
    const int threadsWhileOpen = programThreads();
    report(threadsWhileClosed == 1 && threadsWhileOpen == 3, "opening starts a reader and a writer",
           std::to_string(threadsWhileClosed) + " -> " + std::to_string(threadsWhileOpen));
    portCommand(IDM_OPEN_PORT, port, "Port did't open!", "opening again while open");
    report(programThreads() == threadsWhileOpen, "a refused open starts no thread and ends none");
}

void parameterChecks() {
    struct Parameter {
        int k;
        const char* value;
        const char* name;
    };
    const Parameter parameters[] = {
        {0, "120", "polling period"},   {1, "007", "own address"},
        {2, "89161234567", "phone 1"},  {3, "89997654321", "phone 2"},
        {4, "88005553535", "SMS phone"},
    };
    for (const Parameter& p : parameters) {
        HWND field = parameterEdit(p.k);
        typeInto(field, p.value);
        click(IDC_PARAMETER_WRITE_BASE + p.k);
        // The write takes the field's text on one of its next ticks; only then
        // may the field change. Then read until the value comes back (a read
        // pressed while the write still waits out its 21 ticks is dropped).
        letTicksPass();
        typeInto(field, "");
        const bool ok = readUntil(IDC_PARAMETER_READ_BASE + p.k, field, p.value, 20000);
        report(ok, std::string(p.name) + " written and read back",
               ok ? "" : "shows \"" + textOf(field) + "\"");
    }
}

void channelChecks() {
    const int set[] = {3047, 3078 + 4, 3108 + 17, 3139};  // ch1 A, ch5 T, ch17 BX, ch31 BX
    // Typing into parameter field 0 touches no check box.
    typeInto(parameterEdit(0), "999");
    report(checkState(3139) == BST_UNCHECKED, "typing into field 0 leaves the 3139 box alone");
    for (int id : set) click(id);
    bool all = true;
    for (int id : set) all = all && checkState(id) == BST_CHECKED;
    report(all, "a click checks a channel box");
    report(textOf(parameterEdit(0)) == "999", "clicking the 3139 box leaves field 0's text alone");
    click(IDC_CHANNELS_WRITE);
    // Clear them again on screen once the write has taken them, then let Read
    // bring the controller's state back.
    letTicksPass();
    for (int id : set) click(id);
    bool cleared = true;
    for (int id : set) cleared = cleared && checkState(id) == BST_UNCHECKED;
    report(cleared, "a second click unchecks a channel box");
    const DWORD start = now();
    bool restored = false;
    while (!restored && now() - start < 20000) {
        click(IDC_CHANNELS_READ);
        restored = waitUntil(
            [&] {
                for (int id : set)
                    if (checkState(id) != BST_CHECKED) return false;
                return true;
            },
            4000);
    }
    report(restored, "channels written and read back");
    int others = 0;
    for (int id = IDC_CHANNEL_FIRST; id <= IDC_CHANNEL_LAST; ++id) {
        bool inSet = false;
        for (int s : set) inSet = inSet || s == id;
        if (!inSet && checkState(id) != BST_UNCHECKED) ++others;
    }
    report(others == 0, "no other channel box set after the read", std::to_string(others));
}

void modemChecks() {
    const std::string iniPath = workDir + "\\_data.ini";
    typeInto(item(IDC_IP_ADDRESS), "10.20.30.40");
    typeInto(item(IDC_APN), "inet");
    typeInto(item(IDC_PASSWORD), "p1");
    // The test means something only where typed Cyrillic must not pass through
    // the system code page unharmed.
    report(GetACP() != 1251, "the system code page is not 1251", std::to_string(GetACP()));

    // A character 1251 lacks, put in past the keyboard: the Write refuses the
    // entry before anything is sent, and the file keeps what it had.
    const std::string before = readFileBytes(iniPath);
    SendMessageTimeoutW(item(IDC_USER), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(L"\x0418\x0432\x0430\x043D\x4E2D"), SMTO_BLOCK,
                        5000, nullptr);
    click(IDC_MODEM_WRITE);
    expectText(item(IDC_SETUP_STATUS), "Error!", 5000, "a user name 1251 cannot hold is refused");
    report(readFileBytes(iniPath) == before, "the refused Write leaves _data.ini alone");

    // A Cyrillic user name typed on the keyboard, with a character 1251 lacks at
    // its end: kept, sent and saved as 1251 bytes; the last character is refused.
    const std::string user = "\xC8\xE2\xE0\xED";  // "Ivan" in Cyrillic
    typeInto(item(IDC_USER), "");
    typeOnKeyboard(item(IDC_USER), "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xE4\xB8\xAD");  // UTF-8
    expectText(item(IDC_USER), user, 10000, "typed Cyrillic reaches the User field as 1251");
    click(IDC_MODEM_WRITE);
    expectText(item(IDC_SETUP_STATUS), "Ok!", 90000, "modem setup, full path");
    const std::string saved = readFileBytes(iniPath);
    report(saved == "10.20.30.40\r\ninet\r\n" + user + "\r\np1",
           "_data.ini written with CR LF, the user name in 1251",
           visible(saved));

    for (int id : {IDC_IP_ADDRESS, IDC_APN, IDC_USER, IDC_PASSWORD}) typeInto(item(id), "x");
    click(IDC_MODEM_READ);
    expectText(item(IDC_QUERY_STATUS), "Ok!", 60000, "modem query");
    expectText(item(IDC_IP_ADDRESS), "10.20.30.40", 1000, "query shows the modem's server address");
    expectText(item(IDC_APN), "inet", 1000, "query shows the modem's APN");
    expectText(item(IDC_USER), user, 1000, "query shows the modem's user");

    // Without internet: the box empties the entries, Write takes the short path.
    click(IDC_WITHOUT_INTERNET);
    report(checkState(IDC_WITHOUT_INTERNET) == BST_CHECKED, "\"Bez interneta.\" checked");
    bool empty = true;
    for (int id : {IDC_IP_ADDRESS, IDC_APN, IDC_USER, IDC_PASSWORD}) empty = empty && textOf(item(id)).empty();
    report(empty, "checking the box clears the four entries");
    typeInto(item(IDC_SETUP_STATUS), "");
    click(IDC_MODEM_WRITE);
    expectText(item(IDC_SETUP_STATUS), "Ok!", 90000, "modem setup, without-internet path");
    report(readFileBytes(iniPath) == saved, "the short path leaves _data.ini alone");

    // A file edited behind the program's back is what unchecking reloads.
    writeFileBytes(iniPath, "192.168.0.1\r\napn2\r\nuser2\r\npw2");
    click(IDC_WITHOUT_INTERNET);
    report(checkState(IDC_WITHOUT_INTERNET) == BST_UNCHECKED, "\"Bez interneta.\" unchecked");
    expectText(item(IDC_IP_ADDRESS), "192.168.0.1", 2000, "unchecking reloads IP Address");
    expectText(item(IDC_APN), "apn2", 1000, "unchecking reloads APN");
    expectText(item(IDC_USER), "user2", 1000, "unchecking reloads User");
    expectText(item(IDC_PASSWORD), "pw2", 1000, "unchecking reloads Password");
}

void aboutChecks() {
    for (int round = 0; round < 2; ++round) {
        const bool shifted = round == 1;
        const std::string chord = shifted ? "Alt+?" : "Alt+/";
        HWND box = nullptr;
        for (int attempt = 0; attempt < 3 && !box; ++attempt) {
            focusMainWindow();
            altChord(shifted);
            waitUntil([&] { return (box = aboutBox()) != nullptr; }, 3000);
        }
        report(box != nullptr, chord + " opens the About box");
        if (!box) continue;
        report(GetWindow(box, GW_OWNER) == mainWindow, "the About box belongs to the main window");
        report(!IsWindowEnabled(mainWindow), "the About box is modal");
        report(textOf(GetDlgItem(box, IDOK)) == "OK", "About box has its OK button");
        bool nameLine = false;
        for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            nameLine = nameLine || textOf(c) == "Ostrakan Version 1.0";
        report(nameLine, "About box shows \"Ostrakan Version 1.0\"");
        report(GetDlgItem(box, IDC_ABOUT_ICON) != nullptr, "About box shows the icon");
        if (!shifted) {
            // The tick and the reply classifier go on under the modal box.
            typeInto(parameterEdit(1), "");
            report(readUntil(IDC_PARAMETER_READ_BASE + 1, parameterEdit(1), "007", 20000),
                   "a read completes while the About box is open");
            SetForegroundWindow(box);
            key(VK_ESCAPE, false);
            key(VK_ESCAPE, true);
            report(waitUntil([box] { return !IsWindow(box); }, 5000), "Esc closes the About box");
            // What the box covered is painted again. (Without a window manager
            // Wine's X11 driver stalls the program's thread for a while when a
            // window is hidden; wait until it answers again.)
            report(waitUntil([] { return SendMessageTimeoutA(mainWindow, WM_NULL, 0, 0, SMTO_BLOCK,
                                                             1000, nullptr) != 0; },
                             10000),
                   "the main window answers after the box closed");
            letTicksPass();
            screenshotPause("ostrakan-window-uncovered");
        } else {
            PostMessageA(box, WM_CLOSE, 0, 0);
            report(waitUntil([box] { return !IsWindow(box); }, 5000),
                   "the close box closes the About box");
        }
    }
    // With the focus in an edit the accelerator goes to the edit, which ignores it.
    focusWindow(item(IDC_PORT_NAME));
    altChord(false);
    report(!waitUntil([] { return aboutBox() != nullptr; }, 1500),
           "Alt+/ with the focus in an edit opens nothing");
    if (HWND box = aboutBox()) PostMessageA(box, WM_CLOSE, 0, 0);
}

// Asks the test script to do something outside the program and waits until it
// has: script.request holds the step and its words on the first line, any text
// on the next; script.done comes back (see scripts/test-wine.sh).
bool askScript(const std::string& step, const std::string& text) {
    const std::string request = workDir + "\\script.request";
    const std::string done = workDir + "\\script.done";
    writeFileBytes(request, step + "\n" + (text.empty() ? "" : text + "\n"));
    const bool answered = waitUntil([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, 30000);
    DeleteFileA(request.c_str());
    DeleteFileA(done.c_str());
    return answered;
}

// The test script takes a screenshot named `name` (and checks it) while the
// driver waits; the window's client area origin tells it where to look.
void screenshotPause(const std::string& name) {
    POINT origin{0, 0};
    ClientToScreen(mainWindow, &origin);
    report(askScript("screenshot " + std::to_string(origin.x) + " " + std::to_string(origin.y) + " " + name),
           "screenshot " + name + " taken");
}

// CPU time (user + system, all threads) the program uses over the next 3 s. The
// script reads it from /proc: Wine answers GetProcessTimes for another process
// with zero. Negative when it could not be measured.
double cpuMillisecondsOver3s() {
    const std::string result = workDir + "\\cpu.txt";
    DeleteFileA(result.c_str());
    if (!askScript("cpu")) return -1.0;
    const std::string text = readFileBytes(result);
    return text == "<missing>" || text.empty() ? -1.0 : std::atof(text.c_str());
}

std::string figure(double ms) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f ms of CPU in 3 s", ms);
    return text;
}

// A pulled adapter: the script ends the simulator, which closes the master side
// of the pseudo-terminal behind the port, as unplugging a USB-serial adapter
// does. The line's idle probe finds the loss with nobody clicking; a click while
// lost sends nothing. Then the same name opens again on a new device without a
// Close, and the first click after that sends its request and shows the reply.
void lossChecks(const std::string& port) {
    const double open = cpuMillisecondsOver3s();
    report(open >= 0, "CPU time of the program can be measured", figure(open) + " with the port open and idle");
    report(askScript("pull"), "the simulator behind " + port + " is gone");
    const DWORD pulled = GetTickCount();
    expectText(item(IDC_PORT_STATUS), "The " + port + " is lost!", 2500,
               "the pulled device shows as lost with nobody clicking");
    report(GetTickCount() - pulled < 2500, "the loss shows within 2 s of the pull",
           std::to_string(GetTickCount() - pulled) + " ms");
    report(waitUntil([] { return programThreads() == threadsWhileClosed; }, 3000),
           "the loss ends the reader and the writer", std::to_string(programThreads()));
    typeInto(parameterEdit(0), "");
    click(IDC_PARAMETER_READ_BASE + 0);  // a click while lost
    const double lost = cpuMillisecondsOver3s();
    // A reader or writer going round a failing call would take a whole core (about
    // 3000 ms); even a wait left pending, which Wine polls, costs over 100 ms.
    report(lost >= 0 && lost < 100, "the program's CPU time stays flat after the loss", figure(lost));
    report(textOf(parameterEdit(0)).empty(), "the Read on the lost device shows nothing");

    report(askScript("plug"), "a new simulator behind " + port);
    portCommand(IDM_OPEN_PORT, port, "The " + port + " is opened.", "opening " + port + " again, without Close");
    // One click, as a user would: its request goes out and its reply reaches the field.
    click(IDC_PARAMETER_READ_BASE + 0);
    expectText(parameterEdit(0), "010", 5000, "the first click after re-plugging reads the period");
    report(askScript("wire 0A 21 AA 4E 41 00"), "the request is on the new device's line");
    letTicksPass();
    typeInto(parameterEdit(1), "");
    report(readUntil(IDC_PARAMETER_READ_BASE + 1, parameterEdit(1), "007", 20000),
           "a read works on the device plugged back in");
}

// Real typing: the test script clicks into the edit with xdotool and types the
// UTF-8 text on the X keyboard, so the characters come through the program's
// own message loop as a user's would.
void typeOnKeyboard(HWND edit, const std::string& utf8) {
    // The script's warm-up key goes to the main window, which takes no text.
    focusMainWindow();
    RECT r{};
    GetWindowRect(edit, &r);
    report(askScript("type " + std::to_string((r.left + r.right) / 2) + " " +
                         std::to_string((r.top + r.bottom) / 2),
                     utf8),
           "typed on the keyboard");
}

}  // namespace

// The demonstration of scripts/run-window.sh on a machine without a display:
// open the port, read the five parameters, the channels and the modem, hold
// still for the screenshot, exit.
int showWindow(const PROCESS_INFORMATION& pi, const std::string& port) {
    portCommand(IDM_OPEN_PORT, port, "The " + port + " is opened.", "opening " + port);
    for (int k = 0; k < 5; ++k) {
        HWND field = parameterEdit(k);
        typeInto(field, "");
        click(IDC_PARAMETER_READ_BASE + k);
        const bool shown = waitUntil([&] { return !textOf(field).empty(); }, 8000);
        report(shown, "parameter field " + std::to_string(k) + " read", textOf(field));
        letTicksPass();  // the read's request flag is lowered on the tick after the reply
    }
    click(IDC_CHANNELS_READ);
    const bool channels = waitUntil([] { return checkState(IDC_CHANNEL_A_BASE + 1) == 1; }, 8000);
    report(channels, "channels read");
    letTicksPass();
    click(IDC_MODEM_READ);
    expectText(item(IDC_QUERY_STATUS), "Ok!", 30000, "modem read");
    report(!textOf(item(IDC_IP_ADDRESS)).empty(), "modem read shows the server address",
           textOf(item(IDC_IP_ADDRESS)));
    screenshotPause("ostrakan-window");
    menuCommand(IDM_EXIT);
    WaitForSingleObject(pi.hProcess, 15000);
    return failures == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    const bool show = argc > 1 && std::strcmp(argv[1], "--show") == 0;
    if (show) {
        --argc;
        ++argv;
    }
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s [--show] <ostrakan.exe> <work directory> <port name>\n",
                     argv[0]);
        return 2;
    }
    const std::string exe = argv[1];
    exePath = exe;
    workDir = argv[2];
    const std::string port = argv[3];

    // What a previous session saved, loaded at start-up.
    if (!show) writeFileBytes(workDir + "\\_data.ini", "10.1.2.3\r\ninternet\r\nuser1\r\npass1");

    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string commandLine = "\"" + exe + "\"";
    if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        workDir.c_str(), &si, &pi)) {
        std::printf("FAIL - cannot start %s (error %lu)\n", exe.c_str(), GetLastError());
        return 1;
    }
    report(waitUntil([] { return (mainWindow = FindWindowA("OSTRAKAN", nullptr)) != nullptr; }, 30000),
           "main window of class OSTRAKAN appears");
    if (!mainWindow) {
        TerminateProcess(pi.hProcess, 1);
        return 1;
    }
    WaitForInputIdle(pi.hProcess, 10000);
    programId = pi.dwProcessId;
    if (show) return showWindow(pi, port);

    startUpChecks();
    portChecks(port);
    parameterChecks();
    screenshotPause("ostrakan-window");
    channelChecks();
    modemChecks();
    aboutChecks();

    // Close, reopen: fresh threads, and the link still works.
    portCommand(IDM_CLOSE_PORT, "", "The Port is closed.", "closing the open port");
    report(waitUntil([] { return programThreads() == threadsWhileClosed; }, 3000),
           "closing ends the reader and the writer", std::to_string(programThreads()));
    portCommand(IDM_OPEN_PORT, port, "The " + port + " is opened.", "reopening " + port);
    typeInto(parameterEdit(1), "");
    report(readUntil(IDC_PARAMETER_READ_BASE + 1, parameterEdit(1), "007", 20000),
           "a read works after closing and reopening");
    lossChecks(port);

    // Exit with the port open: the program ends by itself with code 0.
    menuCommand(IDM_EXIT);
    const bool ended = WaitForSingleObject(pi.hProcess, 15000) == WAIT_OBJECT_0;
    DWORD code = 1234;
    GetExitCodeProcess(pi.hProcess, &code);
    report(ended && code == 0, "Exit ends the program with code 0", std::to_string(code));
    if (!ended) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    std::printf("%d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
