// Benchmarks of the real program under Wine: key-to-action latency, idle
// cost beside a minimal port reader, a burst of 1,000 key presses, the
// memory footprint, and the keypad page's latency and idle cost. The phone and the player window live in this process,
// so both ends of a latency sample are read from one clock.
//   bench [--quick] [--wineserver PID] [--out FILE]
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"
#include "util/foreground_program.h"

namespace {

using std::string;

LARGE_INTEGER Frequency;
// When each command reached the player window; its number is in PlayerMessages.
std::vector<LONGLONG> CommandTimes;

LONGLONG Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

double Ms(LONGLONG ticks)
{
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(Frequency.QuadPart);
}

void TimeCommand(WPARAM, LPARAM)
{
    CommandTimes.push_back(Now());
}


struct Stats {
    size_t n = 0;
    double p50 = 0, p95 = 0, p99 = 0, max = 0;
};

Stats Summarise(std::vector<double> v)
{
    Stats s;
    s.n = v.size();
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    // Nearest rank.
    auto rank = [&](double q) {
        size_t i = static_cast<size_t>(q * static_cast<double>(v.size()) + 0.999999);
        return v[std::min(v.size(), std::max<size_t>(i, 1)) - 1];
    };
    s.p50 = rank(0.50);
    s.p95 = rank(0.95);
    s.p99 = rank(0.99);
    s.max = v.back();
    return s;
}

// Presses key 5 count times with irregular pauses; the time from the write
// of each press report to the WM_COMMAND at the player window.
// send(true) presses, send(false) releases, from the phone or a page.
std::vector<double> MeasureLatency(const std::function<void(bool)>& send, int count, std::mt19937& random)
{
    std::vector<double> samples;
    std::uniform_int_distribution<int> pause(30, 250);
    for (int i = 0; i < count; ++i) {
        WaitFor([] { return false; }, static_cast<DWORD>(pause(random)));
        const size_t before = CommandTimes.size();
        const LONGLONG written = Now();
        send(true);
        if (!WaitFor([&] { return CommandTimes.size() > before; }, 5000)) {
            std::printf("  press %d: no WM_COMMAND within 5 s\n", i);
            continue;
        }
        samples.push_back(Ms(CommandTimes[before] - written));
        send(false);
    }
    return samples;
}

std::vector<double> MeasureLatency(PhoneEnd& phone, const string& press, const string& release,
                                   int count, std::mt19937& random)
{
    return MeasureLatency([&](bool down) { phone.Write(down ? press : release); }, count, random);
}

struct BurstResult {
    size_t handled = 0;
    bool inOrder = false;
    double drainSeconds = 0;
};

struct BurstWrite {
    PhoneEnd* phone;
    string bytes;
};

DWORD WINAPI WriteBurst(LPVOID p)
{
    auto* w = static_cast<BurstWrite*>(p);
    w->phone->Write(w->bytes);
    return 0;
}

// pairs press/release pairs in one write, keys 5 and 6 in turn; written from
// another thread, since the player window here must keep answering.
BurstResult MeasureBurst(PhoneEnd& phone, int pairs)
{
    BurstWrite w{&phone, ""};
    for (int i = 0; i < pairs; ++i) {
        const char key = i % 2 ? '6' : '5';
        w.bytes += string("\r\n+CKEV: ") + key + ",1\r\n\r\n+CKEV: " + key + ",0\r\n";
    }
    const size_t before = PlayerMessages.size();
    const LONGLONG start = Now();
    HANDLE writer = CreateThread(nullptr, 0, WriteBurst, &w, 0, nullptr);
    LONGLONG last = start;
    size_t seen = before;
    // Done when all arrived, or nothing new came for 10 s.
    WaitFor(
        [&] {
            if (PlayerMessages.size() != seen) {
                seen = PlayerMessages.size();
                last = Now();
            }
            return seen - before >= static_cast<size_t>(pairs) || Ms(Now() - last) > 10000;
        },
        600000);
    WaitForSingleObject(writer, 10000);
    CloseHandle(writer);
    BurstResult r;
    r.handled = PlayerMessages.size() - before;
    r.inOrder = r.handled == static_cast<size_t>(pairs);
    for (size_t i = 0; r.inOrder && i < r.handled; ++i)
        r.inOrder = PlayerMessages[before + i].first == (i % 2 ? 40047u : 40046u);
    r.drainSeconds = r.handled ? Ms(CommandTimes.back() - start) / 1000.0 : 0;
    return r;
}

struct IdleCost {
    double processCpu = -1;
    double wineserverCpu = -1;
    double seconds = 0;
};

IdleCost MeasureIdle(int process, int wineserver, int seconds)
{
    IdleCost c;
    const double p0 = LinuxCpuSeconds(process), w0 = LinuxCpuSeconds(wineserver);
    const LONGLONG t0 = Now();
    // A plain sleep: this process must add nothing to the wineserver's load.
    Sleep(static_cast<DWORD>(seconds) * 1000);
    c.seconds = Ms(Now() - t0) / 1000.0;
    if (p0 >= 0) c.processCpu = LinuxCpuSeconds(process) - p0;
    if (w0 >= 0) c.wineserverCpu = LinuxCpuSeconds(wineserver) - w0;
    return c;
}

double PerMinute(double cpu, double seconds)
{
    return cpu < 0 || seconds <= 0 ? -1 : cpu * 60.0 / seconds;
}

string Figure(double v, const char* format)
{
    if (v < 0) return "n/a";
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

bool CopyBeside(const string& from, const string& to)
{
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

struct KeypadFigures {
    IdleCost idle;
    Stats latency;
};

// The program with the keypad page on: idle with no page connected, then a
// page's presses of key 5, each timed from its message to the WM_COMMAND.
KeypadFigures MeasureKeypad(const string& exe, const string& folder, const string& ini,
                            const string& settings, PhoneEnd& phone, int wineserver, int presses,
                            int idleSeconds, std::mt19937& random)
{
    namespace websocket = boost::beast::websocket;
    using tcp = boost::asio::ip::tcp;
    const unsigned short port = 8731;
    const string key = "0123456789abcdef0123456789abcdef";
    KeypadFigures f;
    WriteBytes(ini, "[Settings]\r\nKeypadPort=" + std::to_string(port) + "\r\nKeypadKey=" + key +
                        "\r\n" + settings.substr(settings.find('\n') + 1));
    ChildProcess program;
    if (!program.Start("\"" + exe + "\"", folder) || phone.ReadAtLeast(20, 10000).size() < 20) return f;
    WaitFor([] { return false; }, 2000);
    const string folderName = folder.substr(folder.rfind('\\') + 1);
    f.idle = MeasureIdle(UnixPidOf(folderName, "quorvix.exe"), wineserver, idleSeconds);
    try {
        boost::asio::io_context ioc;
        websocket::stream<tcp::socket> ws(ioc);
        ws.next_layer().connect(tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), port));
        const string host = "127.0.0.1:" + std::to_string(port);
        ws.set_option(websocket::stream_base::decorator([host](websocket::request_type& r) {
            r.set(boost::beast::http::field::origin, "http://" + host);
        }));
        ws.handshake(host, "/keys");
        ws.text(true);
        ws.write(boost::asio::buffer(key));
        boost::beast::flat_buffer answer;
        ws.read(answer);
        const std::vector<double> samples = MeasureLatency(
            [&](bool down) { ws.write(boost::asio::buffer(string(down ? "5,1" : "5,0"))); }, presses, random);
        f.latency = Summarise(samples);
    } catch (const std::exception& e) {
        std::printf("  keypad page: %s\n", e.what());
    }
    program.Close("Quorvix");
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    bool quick = false;
    int wineserver = 0;
    string out;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--quick")) quick = true;
        if (!std::strcmp(argv[i], "--wineserver") && i + 1 < argc) wineserver = std::atoi(argv[++i]);
        if (!std::strcmp(argv[i], "--out") && i + 1 < argc) out = argv[++i];
    }
    const int presses = quick ? 30 : 300;
    const int idleSeconds = quick ? 10 : 60;
    const int burstPairs = quick ? 100 : 1000;
    QueryPerformanceFrequency(&Frequency);
    std::mt19937 random(20261208);

    TempDir dir;
    PtyPair pty(dir);
    if (!pty.Start()) {
        std::printf("bench: no pty pair (socat)\n");
        return 1;
    }
    const string built = ModuleDir() + "\\..\\";
    const string exe = dir.Win("quorvix.exe");
    const string counting = dir.Win("quorvix-counting.exe");
    const string settings = "[Settings]\r\nPort=" + pty.pcPath +
                            "\r\nPingInterval=10000\r\n[Commands]\r\n"
                            "+CKEV: 5=WINAMP,40046\r\n+CKEV: 6=WINAMP,40047\r\n";
    if (!CopyBeside(built + "quorvix.exe", exe) ||
        !CopyBeside(ModuleDir() + "\\quorvix-counting.exe", counting)) {
        std::printf("bench: programs not built\n");
        return 1;
    }
    WriteBytes(dir.Win("quorvix.ini"), settings);
    WriteBytes(dir.Win("quorvix-counting.ini"), settings);
    HWND player = CreatePlayerWindow(TimeCommand);

    double exeKb = 0;
    {
        WIN32_FILE_ATTRIBUTE_DATA a = {};
        if (GetFileAttributesExA(exe.c_str(), GetFileExInfoStandard, &a))
            exeKb = static_cast<double>(a.nFileSizeLow) / 1024.0;
    }

    PhoneEnd phone(pty.phonePath);
    ChildProcess program;
    if (!phone.Ok() || !program.Start("\"" + exe + "\"", dir.Win()) ||
        phone.ReadAtLeast(20, 10000).size() < 20) {
        std::printf("bench: the program did not open its port\n");
        return 1;
    }
    WaitFor([] { return false; }, 2000);
    const ProcessMemory started = MemoryOf(program.pi.hProcess);

    std::printf("latency, CR LF framing: %d presses...\n", presses);
    std::fflush(stdout);
    const Stats crlf = Summarise(
        MeasureLatency(phone, "\r\n+CKEV: 5,1\r\n", "\r\n+CKEV: 5,0\r\n", presses, random));
    std::printf("latency, LF framing: %d presses...\n", presses);
    std::fflush(stdout);
    const Stats lf =
        Summarise(MeasureLatency(phone, "+CKEV: 5,1\n", "+CKEV: 5,0\n", presses, random));
    phone.ReadFor(100);

    std::printf("idle: %d s...\n", idleSeconds);
    std::fflush(stdout);
    const string folderName = dir.unixPath.substr(dir.unixPath.rfind('/') + 1);
    const IdleCost idle =
        MeasureIdle(UnixPidOf(folderName, "quorvix.exe"), wineserver, idleSeconds);

    std::printf("burst: %d pairs...\n", burstPairs);
    std::fflush(stdout);
    const BurstResult burst = MeasureBurst(phone, burstPairs);
    const ProcessMemory afterBurst = MemoryOf(program.pi.hProcess);
    const DWORD exitCode = program.Close("Quorvix");

    // The minimal reader on the same port and player window: the floor of
    // the latency and of the idle cost, measured in this run.
    std::printf("minimal reader: %d presses, then idle %d s...\n", presses, idleSeconds);
    std::fflush(stdout);
    Stats floorLatency;
    IdleCost floor;
    {
        ChildProcess reader;
        // Long enough for the presses (at most 0.3 s each) and the idle time.
        const int readerSeconds = presses * 3 / 10 + idleSeconds + 10;
        if (reader.Start("\"" + ModuleDir() + "\\min_reader.exe\" " + pty.pcPath + " " +
                             std::to_string(readerSeconds),
                         dir.Win())) {
            Sleep(2000);
            floorLatency = Summarise(
                MeasureLatency(phone, "\r\n+CKEV: 5,1\r\n", "\r\n+CKEV: 5,0\r\n", presses, random));
            Sleep(2000);
            floor = MeasureIdle(UnixPidOf("", "min_reader.exe"), wineserver, idleSeconds);
            reader.Close(nullptr);
        }
    }

    std::printf("minimal reader with the empty polling loop: idle %d s...\n", idleSeconds);
    std::fflush(stdout);
    IdleCost designFloor;
    {
        ChildProcess reader;
        if (reader.Start("\"" + ModuleDir() + "\\min_reader.exe\" " + pty.pcPath + " " +
                             std::to_string(idleSeconds + 4) + " loop",
                         dir.Win())) {
            Sleep(2000);
            designFloor = MeasureIdle(UnixPidOf("", "min_reader.exe"), wineserver, idleSeconds);
            reader.Close(nullptr);
        }
    }

    std::printf("idle passes: %d s with the counting build...\n", idleSeconds / 3);
    std::fflush(stdout);
    double passesPerSecond = -1;
    {
        HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            sizeof(LONG), "QuorvixIdlePasses");
        auto* passes = static_cast<volatile LONG*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
        ChildProcess counted;
        if (passes && counted.Start("\"" + counting + "\"", dir.Win())) {
            Sleep(3000);
            const LONG p0 = *passes;
            const LONGLONG t0 = Now();
            Sleep(static_cast<DWORD>(idleSeconds / 3) * 1000);
            passesPerSecond = (*passes - p0) / (Ms(Now() - t0) / 1000.0);
            counted.Close("Quorvix");
        }
        if (passes) UnmapViewOfFile(const_cast<LONG*>(passes));
        if (mapping) CloseHandle(mapping);
    }
    std::printf("keypad page: idle %d s, then %d presses from a page...\n", idleSeconds, presses);
    std::fflush(stdout);
    const KeypadFigures keypad = MeasureKeypad(exe, dir.Win(), dir.Win("quorvix.ini"), settings, phone,
                                               wineserver, presses, idleSeconds, random);
    DestroyWindow(player);

    // What a press costs where program sections exist: the foreground
    // program's name, looked up with a window of this process in front so
    // that every step of the lookup runs.
    const int lookups = quick ? 200 : 2000;
    std::printf("foreground lookup: %d calls...\n", lookups);
    std::fflush(stdout);
    double lookupUs = -1;
    string foreground;
    {
        HWND front = CreateWindowA("STATIC", "bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100,
                                   100, nullptr, nullptr, nullptr, nullptr);
        SetForegroundWindow(front);
        WaitFor([] { return false; }, 300);
        foreground = ForegroundProgram();
        const LONGLONG t0 = Now();
        for (int i = 0; i < lookups; ++i) foreground = ForegroundProgram();
        lookupUs = Ms(Now() - t0) * 1000.0 / lookups;
        DestroyWindow(front);
    }

    const double qMin = PerMinute(idle.processCpu, idle.seconds);
    const double wMin = PerMinute(idle.wineserverCpu, idle.seconds);
    const double fqMin = PerMinute(floor.processCpu, floor.seconds);
    const double fwMin = PerMinute(floor.wineserverCpu, floor.seconds);
    // The design: one idle pass per 10 ms sleep, which text that arrives
    // ends early, and a pass takes every complete line received, so a
    // report is handled at once whatever its framing, and a burst as fast
    // as its commands run.

    std::printf("\n%-44s %-40s %s\n", "figure", "measured", "design floor");
    auto row = [](const string& what, const string& measured, const string& design) {
        std::printf("%-44s %-40s %s\n", what.c_str(), measured.c_str(), design.c_str());
    };
    auto latency = [&](const Stats& s) {
        return "p50 " + Figure(s.p50, "%.1f") + " p95 " + Figure(s.p95, "%.1f") + " p99 " +
               Figure(s.p99, "%.1f") + " max " + Figure(s.max, "%.1f") + " ms (n=" +
               std::to_string(s.n) + ")";
    };
    row("key-to-action latency, CR LF framing", latency(crlf), "the pass its arrival starts");
    row("key-to-action latency, LF framing", latency(lf), "the pass its arrival starts");
    row("key-to-action latency, minimal reader", latency(floorLatency), "Wine's floor");
    const bool floorMeasured = floorLatency.n > 0 && crlf.n > 0;
    const double overP50 = floorMeasured ? crlf.p50 - floorLatency.p50 : -1;
    const double overP99 = floorMeasured ? crlf.p99 - floorLatency.p99 : -1;
    row("  program over the reader, CR LF framing", "p50 +" + Figure(overP50, "%.1f") + " p99 +" +
        Figure(overP99, "%.1f") + " ms", "p50 +5.5, p99 +11 at most");
    // A process and its wineserver against the minimal reader and its own.
    auto overFloor = [&](double process, double server) {
        return process < 0 || server < 0 || fqMin <= 0 || fwMin < 0 ? -1
                                                                    : (process + server) / (fqMin + fwMin);
    };
    const double idleRatio = overFloor(qMin, wMin);
    row("idle CPU with the wineserver, program / reader", Figure(idleRatio, "%.2f") + "x",
        "1.15x at most");
    const double dqMin = PerMinute(designFloor.processCpu, designFloor.seconds);
    const double dwMin = PerMinute(designFloor.wineserverCpu, designFloor.seconds);
    const double loopRatio = overFloor(dqMin, dwMin);
    row("  the same for the reader with an empty loop", Figure(loopRatio, "%.2f") + "x (" +
        Figure(dqMin, "%.2f") + " + " + Figure(dwMin, "%.2f") + " s/min)",
        "the polling loop's own cost");
    row("idle CPU, quorvix.exe", Figure(qMin, "%.2f") + " s/min", "no busy loop");
    const double kqMin = PerMinute(keypad.idle.processCpu, keypad.idle.seconds);
    const double kwMin = PerMinute(keypad.idle.wineserverCpu, keypad.idle.seconds);
    row("idle CPU, keypad page on, no page", Figure(kqMin, "%.2f") + " + " + Figure(kwMin, "%.2f") +
        " s/min (off: " + Figure(qMin, "%.2f") + " + " + Figure(wMin, "%.2f") + ")",
        "no wake-ups while no page is connected");
    row("key-to-action latency, keypad page", latency(keypad.latency), "the pass its arrival starts");
    row("idle CPU, wineserver beside quorvix.exe", Figure(wMin, "%.2f") + " s/min", "Wine's");
    row("idle CPU, minimal port reader", Figure(fqMin, "%.2f") + " s/min", "Wine's floor");
    row("idle CPU, wineserver beside minimal reader", Figure(fwMin, "%.2f") + " s/min", "Wine's floor");
    row("idle passes per second", Figure(passesPerSecond, "%.1f"), "at most 100 (10 ms sleep)");
    row("burst of " + std::to_string(burstPairs) + " press/release pairs",
        std::to_string(burst.handled) + " handled, " + (burst.inOrder ? "in order" : "NOT in order") +
            ", " + Figure(burst.drainSeconds, "%.1f") + " s",
        "all, in order, in the passes after they arrive");
    row("foreground program lookup, per press", Figure(lookupUs, "%.0f") + " us (" +
        (foreground.empty() ? string("none found") : foreground) + ")",
        "only with program sections; none per idle pass");
    row("quorvix.exe size", Figure(exeKb, "%.0f") + " KiB", "no limit set");
    row("working set after start (now/peak)",
        Figure(started.workingSetKb, "%.0f") + " / " + Figure(started.peakWorkingSetKb, "%.0f") + " KiB",
        "no limit set");
    row("working set after the burst (now/peak)",
        Figure(afterBurst.workingSetKb, "%.0f") + " / " + Figure(afterBurst.peakWorkingSetKb, "%.0f") + " KiB",
        "no limit set");
    row("exit code after WM_CLOSE", std::to_string(exitCode), "0");

    if (!out.empty()) {
        char json[4096];
        std::snprintf(
            json, sizeof json,
            "{\n  \"latency_crlf_ms\": {\"n\": %u, \"p50\": %.2f, \"p95\": %.2f, \"p99\": %.2f, "
            "\"max\": %.2f},\n  \"latency_min_reader_ms\": {\"n\": %u, \"p50\": %.2f, \"p99\": %.2f},\n"
            "  \"idle_cpu_ratio_to_min_reader\": %.3f,\n  \"empty_loop_idle_cpu_ratio_to_min_reader\": %.3f,\n"
            "  \"latency_lf_ms\": {\"n\": %u, \"p50\": %.2f, \"p95\": %.2f, "
            "\"p99\": %.2f, \"max\": %.2f},\n  \"idle_cpu_s_per_min\": %.3f,\n"
            "  \"idle_wineserver_cpu_s_per_min\": %.3f,\n  \"min_reader_cpu_s_per_min\": %.3f,\n"
            "  \"min_reader_wineserver_cpu_s_per_min\": %.3f,\n  \"idle_passes_per_s\": %.1f,\n"
            "  \"burst\": {\"pairs\": %d, \"handled\": %u, \"in_order\": %s, \"drain_s\": %.2f},\n"
            "  \"foreground_lookup_us\": %.1f,\n  \"exe_kib\": %.0f,\n  \"working_set_kib_after_start\": %.0f,\n"
            "  \"peak_working_set_kib_after_start\": %.0f,\n"
            "  \"working_set_kib_after_burst\": %.0f,\n  \"peak_working_set_kib_after_burst\": %.0f,\n"
            "  \"keypad_idle_cpu_s_per_min\": %.3f,\n  \"keypad_idle_wineserver_cpu_s_per_min\": %.3f,\n"
            "  \"latency_keypad_ms\": {\"n\": %u, \"p50\": %.2f, \"p95\": %.2f, \"p99\": %.2f, \"max\": %.2f},\n"
            "  \"exit_code\": %lu\n}\n",
            static_cast<unsigned>(crlf.n), crlf.p50, crlf.p95, crlf.p99, crlf.max,
            static_cast<unsigned>(floorLatency.n), floorLatency.p50, floorLatency.p99, idleRatio, loopRatio,
            static_cast<unsigned>(lf.n), lf.p50, lf.p95, lf.p99, lf.max, qMin, wMin, fqMin, fwMin,
            passesPerSecond, burstPairs, static_cast<unsigned>(burst.handled),
            burst.inOrder ? "true" : "false", burst.drainSeconds, lookupUs, exeKb, started.workingSetKb,
            started.peakWorkingSetKb, afterBurst.workingSetKb, afterBurst.peakWorkingSetKb, kqMin, kwMin,
            static_cast<unsigned>(keypad.latency.n), keypad.latency.p50, keypad.latency.p95,
            keypad.latency.p99, keypad.latency.max, static_cast<unsigned long>(exitCode));
        WriteBytes(out, json);
    }
    return burst.inOrder && exitCode == 0 ? 0 : 1;
}
