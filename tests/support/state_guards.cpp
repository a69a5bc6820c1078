#include "state_guards.h"

namespace zebtest {

AsyncRecorder* AsyncRecorder::active_ = nullptr;

AsyncRecorder::AsyncRecorder() : outer_(active_) {
    ZEBGetAsyncHandler(&previous_);
    active_ = this;
    ZEBSetAsyncHandler(&AsyncRecorder::handler);
}

AsyncRecorder::~AsyncRecorder() {
    ZEBSetAsyncHandler(previous_);
    active_ = outer_;
}

void ZEB_CALL AsyncRecorder::handler(ZEBDevice* device, uint8_t* packet, int32_t length) {
    if (!active_) return;
    active_->calls_.push_back({device, Bytes(packet, packet + (length > 0 ? length : 0))});
}

}  // namespace zebtest
