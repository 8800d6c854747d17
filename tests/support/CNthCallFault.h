// The counter behind the tests' failing file calls: the nth call (counting every kind alike)
// fails with a chosen errno, every other one goes through.
#pragma once

#include <cerrno>

class CNthCallFault {
public:
    CNthCallFault(int nth, int error) : m_nNth(nth), m_nError(error) {}

    // Counts a call; true (errno set) when it is the one to fail.
    bool Fails() {
        if (++m_nCalls != m_nNth) {
            return false;
        }
        errno = m_nError;
        return true;
    }
    bool Fired() const { return m_nNth > 0 && m_nCalls >= m_nNth; }
    int Calls() const { return m_nCalls; }

private:
    int m_nNth;
    int m_nError;
    int m_nCalls = 0;
};
