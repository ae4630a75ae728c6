#include "server/server_metrics.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <sstream>

void ServerMetrics::Histogram::add(double seconds)
{
    for (std::size_t i = 0; i < kBuckets.size(); ++i) {
        if (seconds <= kBuckets[i])
            ++buckets[i];
    }
    ++count;
    sum += seconds;
}

void ServerMetrics::Histogram::write(std::string &out, const char *name) const
{
    std::ostringstream text;
    for (std::size_t i = 0; i < kBuckets.size(); ++i)
        text << name << "_bucket{le=\"" << kBuckets[i] << "\"} " << buckets[i] << '\n';
    text << name << "_bucket{le=\"+Inf\"} " << count << '\n'
         << name << "_sum " << sum << '\n'
         << name << "_count " << count << '\n';
    out += text.str();
}

void ServerMetrics::countAnswer(int status, const std::string &format, const std::string &preset)
{
    std::lock_guard lock(m_mutex);
    ++m_answers[{status, format, preset}];
}

void ServerMetrics::countRender(double queueSeconds, double renderSeconds)
{
    std::lock_guard lock(m_mutex);
    m_queue.add(queueSeconds);
    m_render.add(renderSeconds);
    m_total.add(queueSeconds + renderSeconds);
}

void ServerMetrics::countWorkerLost()
{
    std::lock_guard lock(m_mutex);
    ++m_workersLost;
}

std::string ServerMetrics::text(const Gauges &gauges) const
{
    std::lock_guard lock(m_mutex);
    std::string out =
        "# HELP quillow_requests_total Render requests answered, by status, format and preset.\n"
        "# TYPE quillow_requests_total counter\n";
    for (const auto &[key, count] : m_answers) {
        const auto &[status, format, preset] = key;
        // A request without a preset has no preset label, as one without a
        // format has an empty format: dashboards read both as "none".
        out += "quillow_requests_total{status=\"" + std::to_string(status) + "\",format=\"" +
               jsonEscaped(format) + (preset.empty() ? std::string() : "\",preset=\"" + jsonEscaped(preset)) +
               "\"} " + std::to_string(count) + '\n';
    }
    out += "# HELP quillow_request_duration_seconds Time from admission to the answer of a render.\n"
           "# TYPE quillow_request_duration_seconds histogram\n";
    m_total.write(out, "quillow_request_duration_seconds");
    out += "# HELP quillow_queue_wait_seconds Time a render waited for a worker.\n"
           "# TYPE quillow_queue_wait_seconds histogram\n";
    m_queue.write(out, "quillow_queue_wait_seconds");
    out += "# HELP quillow_render_seconds Time a render took in its worker.\n"
           "# TYPE quillow_render_seconds histogram\n";
    m_render.write(out, "quillow_render_seconds");
    out +=
        "# HELP quillow_in_flight Render requests admitted and not yet answered.\n"
        "# TYPE quillow_in_flight gauge\n"
        "quillow_in_flight " +
        std::to_string(gauges.inFlight) +
        "\n"
        "# HELP quillow_queue_depth Admitted render requests waiting for a worker.\n"
        "# TYPE quillow_queue_depth gauge\n"
        "quillow_queue_depth " +
        std::to_string(gauges.queued) +
        "\n"
        "# HELP quillow_ready Whether this replica takes requests (1) or is stopping or without renders "
        "(0).\n"
        "# TYPE quillow_ready gauge\n"
        "quillow_ready " +
        std::to_string(gauges.ready ? 1 : 0) +
        "\n"
        "# HELP quillow_worker_restarts_total Render processes killed for time or lost to a crash.\n"
        "# TYPE quillow_worker_restarts_total counter\n"
        "quillow_worker_restarts_total " +
        std::to_string(m_workersLost) +
        "\n"
        "# HELP quillow_render_service_restarts_total Times the render service died and was started again.\n"
        "# TYPE quillow_render_service_restarts_total counter\n"
        "quillow_render_service_restarts_total " +
        std::to_string(gauges.serviceRestarts) +
        "\n"
        "# HELP quillow_connections_timed_out_total Connections closed because a request did not arrive "
        "whole in time.\n"
        "# TYPE quillow_connections_timed_out_total counter\n"
        "quillow_connections_timed_out_total " +
        std::to_string(gauges.connectionsTimedOut) + "\n";
    return out;
}

std::string jsonEscaped(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

void writeAccessLog(const AccessRecord &record)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char time[80];
    std::snprintf(time, sizeof time, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, int(millis));
    char numbers[160];
    std::snprintf(numbers, sizeof numbers,
                  "\"status\":%d,\"bytes\":%llu,\"queue_ms\":%.1f,\"render_ms\":%.1f,\"ms\":%.1f",
                  record.status, record.bytes, record.queueMs, record.renderMs, record.totalMs);
    const std::string line = std::string("{\"time\":\"") + time + "\",\"method\":\"" +
                             jsonEscaped(record.method) + "\",\"path\":\"" + jsonEscaped(record.path) +
                             "\"," + numbers + ",\"request_id\":\"" + jsonEscaped(record.requestId) +
                             "\",\"peer\":\"" + jsonEscaped(record.peer) + "\"}\n";
    // One write per line: lines from several threads never interleave.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}
