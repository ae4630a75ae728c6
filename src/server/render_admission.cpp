#include "server/render_admission.h"

RenderAdmission::RenderAdmission(int capacity) : m_capacity(capacity)
{}

RenderAdmission::Verdict RenderAdmission::admit(const std::function<void()> &submit)
{
    std::lock_guard admitting(m_admitting);
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return Verdict::Closed;
        if (m_admitted >= m_capacity)
            return Verdict::Full;
        ++m_admitted;
    }
    // Outside m_mutex: `submit` may answer at once, and so call release().
    submit();
    return Verdict::Admitted;
}

void RenderAdmission::release()
{
    std::lock_guard lock(m_mutex);
    --m_admitted;
}

void RenderAdmission::close()
{
    std::lock_guard admitting(m_admitting);
    std::lock_guard lock(m_mutex);
    m_closed = true;
}

int RenderAdmission::admitted() const
{
    std::lock_guard lock(m_mutex);
    return m_admitted;
}
