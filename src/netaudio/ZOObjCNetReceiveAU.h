#pragma once

#include "NetReceiveUnit.h"
#include "NetStatusListener.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The receive window's handle on a NetReceiveUnit: connects, disconnects, sets the password and
// passes the unit's status changes to a listener delegate on the GUI thread, at most one a
// second. It never owns the unit; destroy it before the unit, so no status report can reach a
// listener whose unit is gone. Main thread only.
class ZOObjCNetReceiveAU {
public:
    explicit ZOObjCNetReceiveAU(koru::netaudio::NetReceiveUnit& unit) : mUnit(unit) {}
    ~ZOObjCNetReceiveAU();
    ZOObjCNetReceiveAU(const ZOObjCNetReceiveAU&) = delete;
    ZOObjCNetReceiveAU& operator=(const ZOObjCNetReceiveAU&) = delete;

    // "address:port"; connects at once.
    void setHost(const std::string& host) { mUnit.setHost(host); }
    void connect(const std::string& address, std::uint16_t port) { mUnit.connectTo(address, port); }
    void setPassword(const std::string& password) { mUnit.setPassword(password); }
    void connect(bool on) { mUnit.connect(on); }
    std::string host() const { return mUnit.host(); }
    koru::netaudio::NetStatus status() const { return mUnit.status(); }

    // Only the first delegate is kept; later calls change nothing. `clock` is for tests.
    void setListenerDelegate(std::function<void(koru::netaudio::NetStatus)> delegate,
                             koru::netaudio::NetStatusListener::Clock clock = {});
    koru::netaudio::NetStatusListener* listener() const { return mListener.get(); }
    koru::netaudio::NetReceiveUnit& unit() const { return mUnit; }

private:
    koru::netaudio::NetReceiveUnit& mUnit;
    std::unique_ptr<koru::netaudio::NetStatusListener> mListener;
};
