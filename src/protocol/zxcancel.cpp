#include "zxcancel.h"

#include "zxexception.h"

namespace {
ZxCancellation* g_active = nullptr;
int g_holds = 0;
} // namespace

ZxCancellation::~ZxCancellation() {
    // A scope that outlived its cancellation would leave the exchanges a dangling pointer.
    if (g_active == this)
        g_active = nullptr;
}

void ZxCancellation::cancel() {
    if (m_state == State::Idle)
        m_state = State::Requested;
}

ZxCancellation* ZxCancellation::active() {
    return g_active;
}

void ZxCancellation::checkpoint() {
    if (!g_active || g_holds > 0 || g_active->m_state != State::Requested)
        return;
    g_active->m_state = State::Honoured;
    throw ZxCancelledException(ZxCancelledException::Cancelled);
}

ZxCancellation::Scope::Scope(ZxCancellation& cancellation)
    : m_previous(g_active) {
    g_active = &cancellation;
}

ZxCancellation::Scope::~Scope() {
    g_active = m_previous;
}

ZxCancellation::Hold::Hold() {
    ++g_holds;
}

ZxCancellation::Hold::~Hold() {
    --g_holds;
}
