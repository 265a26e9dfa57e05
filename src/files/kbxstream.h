#pragma once
// A stream moves one data item between the data tree and the place where items are kept: a
// data file (KbxFileStream) or a keyboard slot (KbxMidiStream).

#include "zxdata.h"
#include "zxexception.h"

#include <cstdint>
#include <vector>

class KbxStream;

class KbxStreamObserver {
public:
    virtual ~KbxStreamObserver() = default;
    virtual void update(KbxStream& stream) = 0;
};

class KbxStream {
public:
    virtual ~KbxStream() = default;

    virtual void read(ZxDataFile& item) = 0;
    virtual void write(ZxDataFile& item) = 0;
    virtual std::uint32_t position() = 0;
    virtual std::uint32_t size() = 0;

    // Observers stay sorted by identity, without duplicates; there is no detach.
    void attach(KbxStreamObserver* observer);

protected:
    void notifyAll();

private:
    std::vector<KbxStreamObserver*> m_observers;
};
