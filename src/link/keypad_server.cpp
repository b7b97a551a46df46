#include "keypad.h"

// Asio first: it brings winsock2.h, which must come before windows.h.
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <list>
#include <memory>

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

// The page learns why it was closed from these codes (the application's range).
const unsigned short CLOSE_WRONG_KEY = 4001;
const unsigned short CLOSE_BAD_MESSAGE = 4002;
// How long a page whose press finds the queue full waits before trying again.
const auto QUEUE_FULL_PAUSE = std::chrono::milliseconds(10);
// The page's sign that its key was taken.
const char ACCEPTED[] = "ok";

struct Page;

// Everything but the io_context is used on the server thread alone once it
// runs. Declared before the io_context, so that what its handlers' end
// touches (the counts) outlives it; the acceptor and timer after it.
struct Server {
    std::vector<KeypadFile> files;
    std::string key;
    uint16_t port = 0;
    unsigned connections = 0;
    std::list<std::weak_ptr<Page>> pages;
    net::io_context ioc{1};
    tcp::acceptor acceptor{ioc};
    // Made at the first failed accept: a timer starts Asio's timer thread,
    // which wakes every few minutes, and a keypad nobody uses should cost nothing.
    std::unique_ptr<net::steady_timer> retry;
};

// Main thread: the running server and its thread.
Server* Running = nullptr;
HANDLE ServerThread = nullptr;
std::atomic<unsigned> PageCount{0};

// One socket counted against KEYPAD_CONNECTION_LIMIT for as long as it lives.
struct Slot {
    Server& server;
    explicit Slot(Server& s) : server(s) { ++server.connections; }
    ~Slot() { --server.connections; }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
};

// A connected keypad: its key first, then key events, one at a time.
struct Page : std::enable_shared_from_this<Page> {
    Slot slot;
    websocket::stream<beast::tcp_stream> ws;
    beast::flat_buffer buffer;
    net::steady_timer timer;
    bool keyed = false;
    // The answer to the key is on its way: a close must not be written beside it.
    bool writing = false;
    // The key names this page holds down, released when it goes.
    std::string held;

    Page(Server& s, tcp::socket&& socket) : slot(s), ws(std::move(socket)), timer(s.ioc)
    {
        ++PageCount;
    }
    ~Page()
    {
        // Whatever ended the page, no key stays down behind it.
        for (char name : held) QueueKeypadLine(KeyEventLine(std::string(1, name) + ",0"), true);
        --PageCount;
    }

    void Accept(const http::request<http::empty_body>& request)
    {
        ws.set_option(websocket::stream_base::timeout{std::chrono::seconds(KEYPAD_REQUEST_SECONDS),
                                                      std::chrono::seconds(KEYPAD_IDLE_SECONDS), true});
        ws.read_message_max(KEYPAD_MESSAGE_LIMIT);
        ws.set_option(websocket::stream_base::decorator(
            [](websocket::response_type& r) { r.set(http::field::server, "Quorvix"); }));
        ws.async_accept(request, [self = shared_from_this()](beast::error_code e) {
            if (!e) self->Added();
        });
    }

    void Added()
    {
        slot.server.pages.remove_if([](const std::weak_ptr<Page>& p) { return p.expired(); });
        slot.server.pages.push_back(shared_from_this());
        timer.expires_after(std::chrono::seconds(KEYPAD_KEY_SECONDS));
        // Weak: a page that is gone before its time runs out ends at once.
        timer.async_wait([page = std::weak_ptr<Page>(shared_from_this())](beast::error_code e) {
            std::shared_ptr<Page> self = page.lock();
            if (!e && self && !self->keyed) self->Cut();
        });
        Read();
    }

    void Read()
    {
        ws.async_read(buffer, [self = shared_from_this()](beast::error_code e, size_t) { self->Got(e); });
    }

    void Got(beast::error_code e)
    {
        // Closed, timed out, or a message over the limit: the page ends here.
        if (e) return;
        const std::string message = beast::buffers_to_string(buffer.data());
        buffer.consume(buffer.size());
        if (!keyed) {
            if (!ws.got_text() || !SameKeypadKey(message, slot.server.key)) return Refuse(CLOSE_WRONG_KEY);
            keyed = true;
            timer.cancel();
            writing = true;
            ws.text(true);
            ws.async_write(net::buffer(ACCEPTED, sizeof ACCEPTED - 1),
                           [self = shared_from_this()](beast::error_code, size_t) { self->writing = false; });
            return Read();
        }
        const std::string line = ws.got_text() ? KeyEventLine(message) : "";
        if (line.empty()) return Refuse(CLOSE_BAD_MESSAGE);
        const char name = message[0];
        const bool press = message[2] == '1';
        // A press of a key already down, or a release of one that is not:
        // nothing a phone would send.
        if (press == (held.find(name) != std::string::npos)) return Read();
        Deliver(name, press, line);
    }

    // In order: nothing more is read from this page until the line is queued.
    void Deliver(char name, bool press, const std::string& line)
    {
        if (!QueueKeypadLine(line, false)) {
            timer.expires_after(QUEUE_FULL_PAUSE);
            timer.async_wait([self = shared_from_this(), name, press, line](beast::error_code e) {
                if (!e) self->Deliver(name, press, line);
            });
            return;
        }
        if (press)
            held += name;
        else
            held.erase(held.find(name), 1);
        Read();
    }

    void Refuse(unsigned short code)
    {
        if (writing) return Cut();
        ws.async_close(websocket::close_reason(code), [self = shared_from_this()](beast::error_code) {});
    }

    // At once, without the closing handshake: every pending operation ends.
    void Cut()
    {
        beast::error_code ignored;
        beast::get_lowest_layer(ws).socket().close(ignored);
    }
};

// One request for a file, or for a keypad's WebSocket.
struct Request : std::enable_shared_from_this<Request> {
    Slot slot;
    beast::tcp_stream stream;
    beast::flat_buffer buffer{KEYPAD_REQUEST_LIMIT};
    http::request_parser<http::empty_body> parser;
    http::response<http::string_body> response;

    Request(Server& s, tcp::socket&& socket) : slot(s), stream(std::move(socket))
    {
        parser.header_limit(KEYPAD_REQUEST_LIMIT);
        parser.body_limit(0);
    }

    void Read()
    {
        stream.expires_after(std::chrono::seconds(KEYPAD_REQUEST_SECONDS));
        http::async_read(stream, buffer, parser,
                         [self = shared_from_this()](beast::error_code e, size_t) { self->Got(e); });
    }

    void Got(beast::error_code e)
    {
        // A request over its limits, cut short or too slow: closed unanswered.
        if (e) return;
        const http::request<http::empty_body>& request = parser.get();
        if (static_cast<size_t>(std::distance(request.begin(), request.end())) > KEYPAD_FIELD_LIMIT)
            return Answer(http::status::request_header_fields_too_large, nullptr);
        if (websocket::is_upgrade(request)) return Upgrade(request);
        if (request.method() != http::verb::get) return Answer(http::status::method_not_allowed, nullptr);
        const beast::string_view target = request.target();
        const beast::string_view path = target.substr(0, target.find('?'));
        const std::vector<KeypadFile>& files = slot.server.files;
        const auto file = std::find_if(files.begin(), files.end(),
                                       [&](const KeypadFile& f) { return path == f.Path; });
        Answer(file == files.end() ? http::status::not_found : http::status::ok,
               file == files.end() ? nullptr : &*file);
    }

    void Upgrade(const http::request<http::empty_body>& request)
    {
        const std::string origin(request[http::field::origin]);
        const std::string host(request[http::field::host]);
        if (request.target() != "/keys" || !IsPagesOrigin(origin, host, slot.server.port))
            return Answer(http::status::forbidden, nullptr);
        if (PageCount >= KEYPAD_PAGE_LIMIT) return Answer(http::status::service_unavailable, nullptr);
        stream.expires_never();
        std::make_shared<Page>(slot.server, stream.release_socket())->Accept(request);
    }

    void Answer(http::status status, const KeypadFile* file)
    {
        response.version(11);
        response.result(status);
        response.set(http::field::server, "Quorvix");
        response.set(http::field::content_type, file ? file->Type : "text/plain; charset=utf-8");
        response.set(http::field::cache_control, "no-store");
        response.set("X-Content-Type-Options", "nosniff");
        response.set("Referrer-Policy", "no-referrer");
        response.set("Content-Security-Policy",
                     "default-src 'self'; connect-src 'self' ws:; frame-ancestors 'none'");
        response.body() = file ? file->Body : std::string(http::obsolete_reason(status)) + "\n";
        response.keep_alive(false);
        response.prepare_payload();
        http::async_write(stream, response, [self = shared_from_this()](beast::error_code, size_t) {
            beast::error_code ignored;
            self->stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        });
    }
};

void Accept(Server& s);

void Admit(Server& s, tcp::socket&& socket)
{
    beast::error_code e;
    const tcp::endpoint peer = socket.remote_endpoint(e);
    // Refused before anything is read.
    if (e || s.connections >= KEYPAD_CONNECTION_LIMIT || !IsHomeAddress(peer.address().to_string())) {
        socket.close(e);
        return;
    }
    std::make_shared<Request>(s, std::move(socket))->Read();
}

void Accept(Server& s)
{
    s.acceptor.async_accept([&s](beast::error_code e, tcp::socket socket) {
        if (e == net::error::operation_aborted) return;
        if (!e) {
            Admit(s, std::move(socket));
            return Accept(s);
        }
        // Out of sockets or memory: a pause, not a spin.
        if (!s.retry) s.retry.reset(new net::steady_timer(s.ioc));
        s.retry->expires_after(std::chrono::milliseconds(100));
        s.retry->async_wait([&s](beast::error_code) { Accept(s); });
    });
}

bool Listen(Server& s, const tcp& protocol, std::string& why)
{
    beast::error_code e;
    s.acceptor.open(protocol, e);
    // Both IPv4 and IPv6 on one socket, where the system has IPv6.
    if (!e && protocol == tcp::v6()) s.acceptor.set_option(net::ip::v6_only(false), e);
#ifdef SO_EXCLUSIVEADDRUSE
    // No other program may take the port over while it is ours.
    if (!e) {
        const BOOL on = TRUE;
        setsockopt(s.acceptor.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                   reinterpret_cast<const char*>(&on), sizeof on);
    }
#endif
    if (!e) s.acceptor.bind(tcp::endpoint(protocol, s.port), e);
    if (!e) s.acceptor.listen(KEYPAD_CONNECTION_LIMIT, e);
    if (!e) return true;
    beast::error_code ignored;
    s.acceptor.close(ignored);
    why = e == net::error::address_in_use || e == net::error::access_denied
              ? "port " + std::to_string(s.port) + " is in use by another program"
              : "port " + std::to_string(s.port) + ": " + e.message();
    return false;
}

DWORD WINAPI ServeKeypad(LPVOID parameter)
{
    Server& s = *static_cast<Server*>(parameter);
    // A handler that throws (out of memory) loses its connection, not the server.
    for (;;) {
        try {
            s.ioc.run();
            return 0;
        } catch (...) {
        }
    }
}

} // namespace

bool StartKeypad(uint16_t port, const std::string& key, const std::vector<KeypadFile>& files,
                 std::string& why)
{
    if (Running) return true;
    if (port == 0) {
        why = "no port";
        return false;
    }
    std::unique_ptr<Server> s(new Server);
    s->files = files;
    s->key = key;
    s->port = port;
    if (!Listen(*s, tcp::v6(), why) && !Listen(*s, tcp::v4(), why)) return false;
    Accept(*s);
    DWORD id = 0;
    ServerThread = CreateThread(nullptr, 0, ServeKeypad, s.get(), 0, &id);
    if (!ServerThread) {
        why = "no thread could be made for it";
        return false;
    }
    Running = s.release();
    return true;
}

void ChangeKeypadKey(const std::string& key)
{
    if (!Running) return;
    Server* s = Running;
    net::post(s->ioc, [s, key] {
        s->key = key;
        for (const std::weak_ptr<Page>& page : s->pages)
            if (std::shared_ptr<Page> p = page.lock()) p->Cut();
        s->pages.clear();
    });
}

void StopKeypad()
{
    if (!Running) return;
    Running->ioc.stop();
    // The thread only runs handlers, none of which blocks: it ends at once.
    // Were it ever held, its server is left to it rather than freed under it.
    if (WaitForSingleObject(ServerThread, 5000) == WAIT_OBJECT_0) delete Running;
    CloseHandle(ServerThread);
    ServerThread = nullptr;
    Running = nullptr;
}

bool KeypadRunning()
{
    return Running != nullptr;
}

unsigned KeypadPages()
{
    return PageCount;
}
