// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "record/MediaTypes.h"

#include <mutex>
#include <string>

namespace tavrin::record {

class BaseFilter;

enum PIN_DIRECTION : int32_t { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

// What every pin has: a name, a direction, its filter, and while connected the
// pin at the other end with the agreed media type. Pins live as long as their filter.
class BasePin {
  public:
    BasePin(BaseFilter* filter, std::recursive_mutex* lock, std::string name, PIN_DIRECTION direction);
    virtual ~BasePin() = default;
    BasePin(const BasePin&) = delete;
    BasePin& operator=(const BasePin&) = delete;

    const std::string& name() const { return name_; }
    PIN_DIRECTION direction() const { return direction_; }
    BaseFilter* filter() const { return filter_; }
    BasePin* ConnectedTo() const { return connected_; }
    bool IsConnected() const { return connected_ != nullptr; }
    HRESULT ConnectionMediaType(MediaType* type) const;
    const MediaType& connectionType() const { return mt_; }

    // Negotiation.
    virtual HRESULT CheckMediaType(const MediaType* type) = 0;
    // The types this pin prefers, from position 0; VFW_S_NO_MORE_ITEMS past the end.
    virtual HRESULT GetMediaType(int32_t position, MediaType* type);
    virtual HRESULT SetMediaType(const MediaType* type);
    virtual HRESULT CompleteConnect(BasePin* receivePin);
    virtual HRESULT BreakConnect();
    HRESULT Disconnect();

    // State changes of the filter, passed on to each pin.
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }
    virtual HRESULT Run(REFERENCE_TIME start);

  protected:
    friend class BaseOutputPin;
    BaseFilter* filter_;
    std::recursive_mutex* lock_;
    std::string name_;
    PIN_DIRECTION direction_;
    BasePin* connected_ = nullptr;
    MediaType mt_;
    REFERENCE_TIME tStart_ = 0;
};

} // namespace tavrin::record
