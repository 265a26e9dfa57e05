#include "kbxstream.h"

#include <algorithm>
#include <functional>

void KbxStream::attach(KbxStreamObserver* observer) {
    if (!observer)
        return;
    m_observers.push_back(observer);
    // std::less gives pointers a total order even where the built-in < does not.
    std::sort(m_observers.begin(), m_observers.end(), std::less<KbxStreamObserver*>());
    m_observers.erase(std::unique(m_observers.begin(), m_observers.end()), m_observers.end());
}

void KbxStream::notifyAll() {
    for (KbxStreamObserver* observer : m_observers)
        observer->update(*this);
}
