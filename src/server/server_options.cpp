#include "server/server_options.h"

#include "jobs/batch.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <getopt.h>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {

const char kHelp[] =
    "用法：quillow-serve [选项]\n"
    "以 HTTP 提供 quillow-render 的渲染：POST /v1/render（JSON，键与批处理行相同，不含 output）\n"
    "或 GET /v1/render?phrase=…&…，回答文件的字节。另有 /healthz、/readyz 和 /metrics。\n"
    "\n"
    "  --listen 地址:端口         监听的 IPv4 地址和端口（默认 127.0.0.1:8080）\n"
    "  --public                  允许不要令牌监听本机以外可达的地址\n"
    "  --workers N               同时渲染的进程数（默认为处理器核数）\n"
    "  --queue N                 等待渲染的请求数上限，超出回答 429（默认为进程数的两倍）\n"
    "  --token-file 文件          要求 Authorization: Bearer <文件第一行的令牌>；SIGHUP 时重读\n"
    "  --metrics-listen 地址:端口 在另一个地址上提供 /metrics（主地址上不再提供）\n"
    "  --time-limit 秒            一次渲染的时间上限，超出回答 504（默认与批处理每行的上限相同）\n"
    "  --drain-delay 秒           收到 SIGTERM 后 /readyz 回答 503、仍接受连接的时间（默认 5）\n"
    "  --drain-deadline 秒        之后等待进行中请求的时间（默认 20）\n"
    "  --no-web                  不在 / 提供网页（/v1/presets 仍然提供）\n"
    "  --help                    显示本帮助\n"
    "\n"
    "TLS 由前面的反向代理负责。\n";

bool readWhole(const char *text, long long low, long long high, long long &value)
{
    char *end = nullptr;
    errno = 0;
    const long long number = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || number < low || number > high)
        return false;
    value = number;
    return true;
}

// Seconds from 0 (when `zero` allows it) up to a day.
bool readSeconds(const char *text, bool zero, std::chrono::milliseconds &value)
{
    char *end = nullptr;
    errno = 0;
    const double seconds = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(seconds >= 0) || seconds > 86400 ||
        (!zero && !(seconds > 0)))
        return false;
    const auto read = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    if (!zero && read.count() == 0)
        return false;
    value = read;
    return true;
}

bool readListen(const std::string &value, ListenAddress &listen)
{
    const std::size_t colon = value.rfind(':');
    in_addr parsed{};
    long long port = 0;
    if (colon == std::string::npos || inet_pton(AF_INET, value.substr(0, colon).c_str(), &parsed) != 1 ||
        !readWhole(value.c_str() + colon + 1, 0, 65535, port))
        return false;
    listen = {value.substr(0, colon), int(port)};
    return true;
}

} // namespace

bool isLoopbackAddress(const std::string &address)
{
    in_addr parsed{};
    return inet_pton(AF_INET, address.c_str(), &parsed) == 1 && (ntohl(parsed.s_addr) >> 24) == 127;
}

std::string readTokenFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open())
        throw std::runtime_error("无法读取令牌文件 “" + path + "”。");
    std::string line;
    std::getline(file, line);
    if (file.bad())
        throw std::runtime_error("无法读取令牌文件 “" + path + "”。");
    // A file written by `echo` ends in a line break, one from Windows in
    // "\r\n"; neither, nor spaces around the token, is part of it.
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
    };
    const auto first = std::find_if_not(line.begin(), line.end(), blank);
    const auto last = std::find_if_not(line.rbegin(), line.rend(), blank).base();
    if (first >= last)
        throw std::runtime_error("令牌文件 “" + path + "” 的第一行是空的。");
    return std::string(first, last);
}

ParseOutcome parseServerOptions(int argc, char *argv[], ServerOptions &options, std::string &message)
{
    static const option kOptions[] = {
        {"listen", required_argument, nullptr, 'l'},
        {"public", no_argument, nullptr, 'p'},
        {"workers", required_argument, nullptr, 'w'},
        {"queue", required_argument, nullptr, 'q'},
        {"token-file", required_argument, nullptr, 't'},
        {"metrics-listen", required_argument, nullptr, 'm'},
        {"time-limit", required_argument, nullptr, 'T'},
        {"drain-delay", required_argument, nullptr, 'D'},
        {"drain-deadline", required_argument, nullptr, 'd'},
        {"no-web", no_argument, nullptr, 'W'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    optind = 1;
    long long number = 0;
    bool timeLimitGiven = false;
    for (;;) {
        const int given = getopt_long(argc, argv, "", kOptions, nullptr);
        if (given == -1)
            break;
        switch (given) {
        case 'W':
            options.web = false;
            break;
        case 'h':
            message = kHelp;
            return ParseOutcome::Help;
        case 'l':
        case 'm': {
            ListenAddress listen;
            const char *name = given == 'l' ? "--listen" : "--metrics-listen";
            if (!readListen(optarg, listen)) {
                message = std::string(name) + " 必须写成 IPv4地址:端口（如 127.0.0.1:8080），而不是 “" +
                          optarg + "”。";
                return ParseOutcome::Error;
            }
            if (given == 'l')
                options.listen = listen;
            else
                options.metricsListen = listen;
            break;
        }
        case 'p':
            options.publicListen = true;
            break;
        case 'w':
            if (!readWhole(optarg, 1, 1024, number)) {
                message = std::string("--workers 必须是 1 到 1024 之间的整数，而不是 “") + optarg + "”。";
                return ParseOutcome::Error;
            }
            options.workers = int(number);
            break;
        case 'q':
            if (!readWhole(optarg, 0, 100000, number)) {
                message = std::string("--queue 必须是 0 到 100000 之间的整数，而不是 “") + optarg + "”。";
                return ParseOutcome::Error;
            }
            options.queue = int(number);
            break;
        case 'T':
        case 'd':
            if (!readSeconds(optarg, false, given == 'T' ? options.timeLimit : options.drainDeadline)) {
                message = std::string(given == 'T' ? "--time-limit" : "--drain-deadline") +
                          " 必须是 0 到 86400 之间的正秒数，而不是 “" + optarg + "”。";
                return ParseOutcome::Error;
            }
            timeLimitGiven = timeLimitGiven || given == 'T';
            break;
        case 'D':
            if (!readSeconds(optarg, true, options.drainDelay)) {
                message =
                    std::string("--drain-delay 必须是 0 到 86400 之间的秒数，而不是 “") + optarg + "”。";
                return ParseOutcome::Error;
            }
            break;
        case 't':
            try {
                options.token = readTokenFile(optarg);
            } catch (const std::runtime_error &error) {
                message = error.what();
                return ParseOutcome::Error;
            }
            options.tokenFile = optarg;
            break;
        default:
            message = std::string("未知选项或缺少值：") + argv[optind - 1] + "。请看 --help。";
            return ParseOutcome::Error;
        }
    }
    if (optind < argc) {
        message = std::string("多余的参数：") + argv[optind] + "。请看 --help。";
        return ParseOutcome::Error;
    }
    if (!isLoopbackAddress(options.listen.address) && options.tokenFile.empty() && !options.publicListen) {
        message = "--listen " + options.listen.address +
                  " 可从其他机器访问，却没有 --token-file：任何人都能使用本服务。"
                  "请给出 --token-file，或用 --public 表明这是有意的。";
        return ParseOutcome::Error;
    }
    // Resolved here, before the render service is forked: it and the HTTP
    // side must agree on how many renders run at once.
    if (options.workers == 0)
        options.workers = int(std::max(1u, std::thread::hardware_concurrency()));
    if (!timeLimitGiven)
        options.timeLimit = std::chrono::seconds(lineTimeLimitSeconds());
    return ParseOutcome::Run;
}
