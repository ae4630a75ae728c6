#pragma once

// What /metrics shows (Prometheus text format), and the one JSON line the
// server writes for each request. Plain C++.

#include <array>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

class ServerMetrics {
public:
    // One render request answered, with any status (refusals made before a
    // render was asked for included). `format` and `preset` are empty when
    // the answer has none; both must come from the program's own tables
    // (a name the service accepted), never from a refused request, so that
    // clients cannot make series without end.
    void countAnswer(int status, const std::string &format, const std::string &preset);
    // A render's time waiting for a worker and its time rendering, seconds.
    void countRender(double queueSeconds, double renderSeconds);
    void countWorkerLost();

    struct Gauges {
        int inFlight = 0;
        int queued = 0;
        long long serviceRestarts = 0;
        long long connectionsTimedOut = 0;
        bool ready = false;
    };
    std::string text(const Gauges &gauges) const;

    // The upper bounds of the histograms, in seconds.
    static constexpr std::array<double, 12> kBuckets = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                        0.5,   1,    2.5,   5,    10,  30};

private:
    struct Histogram {
        std::array<long long, kBuckets.size()> buckets{};
        long long count = 0;
        double sum = 0;
        void add(double seconds);
        void write(std::string &out, const char *name) const;
    };
    mutable std::mutex m_mutex;
    std::map<std::tuple<int, std::string, std::string>, long long> m_answers;
    Histogram m_queue;
    Histogram m_render;
    Histogram m_total;
    long long m_workersLost = 0;
};

// One access-log line: a JSON object on standard error, written whole.
struct AccessRecord {
    std::string method;
    std::string path;
    int status = 0;
    unsigned long long bytes = 0;
    double queueMs = 0;
    double renderMs = 0;
    double totalMs = 0;
    std::string requestId;
    std::string peer;
};
void writeAccessLog(const AccessRecord &record);

// `text` as the inside of a JSON string.
std::string jsonEscaped(const std::string &text);
