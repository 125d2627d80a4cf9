#include "MetricsServer.h"

using namespace asio::experimental::awaitable_operators;

namespace {

constexpr size_t MaxRequest = 8192;
constexpr std::chrono::seconds RequestTime{5};

}  // namespace

MetricsServer::MetricsServer(IoPool& pool, ProxyContext& context)
    : m_Context(context),
      m_Listener(
          pool, context.m_Log, [](const tcp::endpoint&) { return true; },
          [this](tcp::socket socket, const tcp::endpoint&) {
              const asio::any_io_executor executor = socket.get_executor();
              asio::co_spawn(executor, Serve(m_Context, std::move(socket)), asio::detached);
          }) {}

awaitable<void> MetricsServer::Serve(ProxyContext& context, tcp::socket socket) {
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
        body = context.m_Metrics.Text(context.m_Active.load(), context.m_MonitorClients.load());
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
