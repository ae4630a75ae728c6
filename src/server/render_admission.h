#pragma once

// Which render requests the HTTP side takes: as many at once as the workers
// and the queue hold, and none once the service stops. Plain C++.

#include <functional>
#include <mutex>

class RenderAdmission {
public:
    // `capacity`: renders admitted at once, running or waiting.
    explicit RenderAdmission(int capacity);

    enum class Verdict { Admitted, Closed, Full };
    // Admits a render when there is room and admissions are open, and then
    // calls `submit` before close() can return: every render admitted is
    // submitted, and none after close(). release() must follow Admitted.
    Verdict admit(const std::function<void()> &submit);
    // An admitted render's answer has arrived: its place is free.
    void release();
    // From now on admit() says Closed.
    void close();

    int admitted() const;

private:
    const int m_capacity;
    std::mutex m_admitting; // from the check to the submission, and close()
    mutable std::mutex m_mutex;
    int m_admitted = 0;
    bool m_closed = false;
};
