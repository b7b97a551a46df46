#include "app.h"

#include <qrcodegen.h>

#include <vector>

namespace {

const char* const PAIRING_CLASS = "QuorvixPairing";
const int NEW_KEY_BUTTON = 1;
// Pixels: a QR module, the margin, an address's column, a text line.
const int MODULE = 4;
const int MARGIN = 16;
const int COLUMN = 400;
const int LINE = 18;
const int QUIET_MODULES = 4;

// The open window and what it shows; main thread.
HWND PairingWindow = nullptr;
std::vector<std::string> Addresses;
// One QR code, as the generator lays it out.
typedef std::vector<uint8_t> QrCode;
std::vector<QrCode> Codes;

void MakeCodes()
{
    Addresses = KeypadAddresses();
    Codes.clear();
    for (const std::string& address : Addresses) {
        QrCode code(qrcodegen_BUFFER_LEN_MAX), work(qrcodegen_BUFFER_LEN_MAX);
        // An address is far below what a code holds; one that fails is shown as text alone.
        if (!qrcodegen_encodeText(address.c_str(), work.data(), code.data(), qrcodegen_Ecc_MEDIUM,
                                  qrcodegen_VERSION_MIN, qrcodegen_VERSION_MAX, qrcodegen_Mask_AUTO, true))
            code.clear();
        Codes.push_back(code);
    }
}

int SizeOf(const QrCode& code)
{
    return code.empty() ? 0 : qrcodegen_getSize(code.data());
}

int CodeSide()
{
    int side = 0;
    for (const QrCode& code : Codes) side = std::max(side, (SizeOf(code) + 2 * QUIET_MODULES) * MODULE);
    return side;
}

void DrawText(HDC dc, int x, int y, int width, const std::string& text)
{
    RECT r = {x, y, x + width, y + 3 * LINE};
    DrawTextA(dc, text.c_str(), -1, &r, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
}

void Paint(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    const int columns = std::max<int>(1, static_cast<int>(Addresses.size()));
    const int width = columns * COLUMN;
    int y = MARGIN;
    if (Addresses.empty()) {
        DrawText(dc, MARGIN, y, width, "This PC has no address on a home network now. Connect it to the "
                                       "network of the phone's Wi-Fi, then open this window again.");
    } else {
        DrawText(dc, MARGIN, y, width, "Scan the code with the phone's camera, or open the address in "
                                       "the phone's browser. The phone must be on the same Wi-Fi.");
    }
    y += 3 * LINE;
    HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    for (size_t i = 0; i < Codes.size(); ++i) {
        const int x = MARGIN + static_cast<int>(i) * COLUMN;
        DrawText(dc, x, y, COLUMN - MARGIN, Addresses[i]);
        const QrCode& code = Codes[i];
        const int size = SizeOf(code);
        if (size == 0) continue;
        const int side = (size + 2 * QUIET_MODULES) * MODULE;
        const int left = x, top = y + 3 * LINE;
        RECT all = {left, top, left + side, top + side};
        FillRect(dc, &all, white);
        for (int row = 0; row < size; ++row)
            for (int col = 0; col < size; ++col) {
                if (!qrcodegen_getModule(code.data(), col, row)) continue;
                RECT m = {left + (QUIET_MODULES + col) * MODULE, top + (QUIET_MODULES + row) * MODULE,
                          left + (QUIET_MODULES + col + 1) * MODULE, top + (QUIET_MODULES + row + 1) * MODULE};
                FillRect(dc, &m, black);
            }
    }
    y += Codes.empty() ? 0 : 3 * LINE + CodeSide() + MARGIN;
    DrawText(dc, MARGIN, y, width,
             "Anyone on this network who has the address can press keys. \"New key\" takes it away "
             "from every phone that has it. Keep the keypad off on public Wi-Fi.");
    EndPaint(window, &ps);
}

// The window's inner size for what it shows.
SIZE ContentSize()
{
    const int columns = std::max<int>(1, static_cast<int>(Addresses.size()));
    const int codes = Codes.empty() ? 0 : 3 * LINE + CodeSide() + MARGIN;
    return {columns * COLUMN + MARGIN, MARGIN + 3 * LINE + codes + 3 * LINE + 30 + MARGIN};
}

void Layout(HWND window)
{
    const SIZE inner = ContentSize();
    RECT r = {0, 0, inner.cx, inner.cy};
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE));
    AdjustWindowRectEx(&r, style, FALSE, static_cast<DWORD>(GetWindowLongPtrA(window, GWL_EXSTYLE)));
    SetWindowPos(window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
    SetWindowPos(GetDlgItem(window, NEW_KEY_BUTTON), nullptr, MARGIN, inner.cy - MARGIN - 26, 100, 26,
                 SWP_NOZORDER);
    InvalidateRect(window, nullptr, TRUE);
}

LRESULT CALLBACK PairingWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == NEW_KEY_BUTTON && HIWORD(wParam) == BN_CLICKED) {
            std::string why;
            if (!RenewKeypadKey(why)) {
                MessageBoxA(window, ("No new key: " + why).c_str(), "Error", MB_OK | MB_ICONERROR);
                return 0;
            }
            MakeCodes();
            Layout(window);
        }
        return 0;
    case WM_DESTROY:
        PairingWindow = nullptr;
        Codes.clear();
        Addresses.clear();
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace

void ShowPairingWindow()
{
    if (PairingWindow) {
        MakeCodes();
        Layout(PairingWindow);
        ShowWindow(PairingWindow, SW_SHOWNORMAL);
        SetForegroundWindow(PairingWindow);
        return;
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = PairingWndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = PAIRING_CLASS;
    // Registered at the first showing; a second registration fails harmlessly.
    RegisterClassA(&wc);
    MakeCodes();
    // Owned by the main window, so that it goes when the program ends; with
    // a taskbar button of its own, since its owner is hidden.
    PairingWindow = CreateWindowExA(WS_EX_APPWINDOW, PAIRING_CLASS, "Quorvix: phone over Wi-Fi",
                                    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                    CW_USEDEFAULT, CW_USEDEFAULT, 400, 300, MainWindow, nullptr,
                                    instance, nullptr);
    if (!PairingWindow) return;
    HWND button = CreateWindowExA(0, "BUTTON", "New key", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0,
                                  100, 26, PairingWindow, nullptr, instance, nullptr);
    // The child's id, given here rather than cast into the menu argument.
    SetWindowLongPtrA(button, GWLP_ID, NEW_KEY_BUTTON);
    SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    Layout(PairingWindow);
    ShowWindow(PairingWindow, SW_SHOW);
    SetForegroundWindow(PairingWindow);
}
