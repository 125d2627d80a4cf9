#include "MetricsServer.h"

using namespace asio::experimental::awaitable_operators;

namespace {

constexpr size_t MaxRequest = 8192;
constexpr std::chrono::seconds RequestTime{5};

}  // namespace

MetricsServer::MetricsServer(IoPool& pool, ProxyContext& context)
    : m_Context(context),
      m_Listener(
          pool, context.m_Log, [this](const tcp::endpoint& client) { return Admit(client); },
          [this](tcp::socket socket, const tcp::endpoint&) {
              m_Context.m_MetricsClients.fetch_add(1);
              const asio::any_io_executor executor = socket.get_executor();
              asio::co_spawn(executor, Serve(m_Context, std::move(socket)), asio::detached);
          }) {}

bool MetricsServer::Admit(const tcp::endpoint& client) {
    const std::shared_ptr<const ProxySettings> settings = m_Context.Settings();
    const ProxyOptions& options = settings->m_Options;
    return AdmitWatcher(m_Context.m_Refusals, "metrics", client, options.m_MetricsAllow,
                        m_Context.m_MetricsClients.load(), options.m_MaxMetricsClients);
}

awaitable<void> MetricsServer::Serve(ProxyContext& context, tcp::socket socket) {
    // Counted until the coroutine ends, however it ends.
    const std::unique_ptr<std::atomic<size_t>, void (*)(std::atomic<size_t>*)> counted(
        &context.m_MetricsClients, [](std::atomic<size_t>* clients) { clients->fetch_sub(1); });
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
