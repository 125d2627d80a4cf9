#include "MetricsServer.h"

using namespace asio::experimental::awaitable_operators;

namespace {

constexpr size_t MaxRequest = 8192;
constexpr std::chrono::seconds RequestTime{5};

}  // namespace

MetricsServer::MetricsServer(IoPool& pool, const ServerLog& log, RefusalLog& refusals,
                             LimitsNow limits, Exposition text)
    : m_Refusals(refusals),
      m_Limits(std::move(limits)),
      m_Text(std::move(text)),
      m_Listener(
          pool, log, [this](const tcp::endpoint& client) { return Admit(client); },
          [this](tcp::socket socket, const tcp::endpoint&) {
              m_Clients.fetch_add(1);
              const asio::any_io_executor executor = socket.get_executor();
              asio::co_spawn(executor, Serve(std::move(socket)), asio::detached);
          }) {}

bool MetricsServer::Admit(const tcp::endpoint& client) {
    const Limits limits = m_Limits();
    return AdmitWatcher(m_Refusals, "metrics", client, limits.m_Allow, m_Clients.load(),
                        limits.m_MaxClients);
}

awaitable<void> MetricsServer::Serve(tcp::socket socket) {
    // Counted until the coroutine ends, however it ends.
    const std::unique_ptr<std::atomic<size_t>, void (*)(std::atomic<size_t>*)> counted(
        &m_Clients, [](std::atomic<size_t>* clients) { clients->fetch_sub(1); });
    std::string request;
    asio::steady_timer timer(socket.get_executor(), RequestTime);
    auto read = asio::async_read_until(socket, asio::dynamic_buffer(request, MaxRequest),
                                       "\r\n\r\n", use_awaitable) ||
                timer.async_wait(use_awaitable);
    try {
        const auto done = co_await std::move(read);
        if (done.index() != 0) co_return;
    } catch (const std::system_error&) {
        co_return;
    }
    std::string body;
    std::string status = "404 Not Found";
    // HEAD answers as GET does, without the body (its length included).
    const bool head = request.rfind("HEAD ", 0) == 0;
    const std::string path = request.substr(head ? 5 : 4, 9);
    if ((head || request.rfind("GET ", 0) == 0) && (path == "/metrics " || path == "/metrics?")) {
        status = "200 OK";
        body = m_Text();
    }
    const std::string reply = "HTTP/1.1 " + status +
                              "\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8"
                              "\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                              (head ? std::string() : body);
    std::error_code ignored;
    co_await asio::async_write(socket, asio::buffer(reply), NoThrow(ignored));
    socket.shutdown(tcp::socket::shutdown_both, ignored);
}
