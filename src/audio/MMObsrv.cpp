#include "MMObsrv.h"

#include <algorithm>

namespace tv {

TMMObservable::~TMMObservable() {
  while (!observers_.empty()) RemoveObserver(observers_.back());
}

void TMMObservable::AddObserver(TMMObserver* observer) {
  if (observer == nullptr) return;
  if (observer->observable_ != nullptr) observer->observable_->RemoveObserver(observer);
  observers_.push_back(observer);
  observer->observable_ = this;
}

void TMMObservable::RemoveObserver(TMMObserver* observer) {
  if (observer == nullptr || observer->observable_ != this) return;
  std::erase(observers_, observer);
  observer->observable_ = nullptr;
}

void TMMObservable::Notify(void* data) {
  if (Mute) return;
  // An observer may detach itself (or another) from inside its callback.
  for (size_t i = observers_.size(); i-- > 0;) {
    if (i < observers_.size()) observers_[i]->Update(data);
  }
}

TMMObserver::~TMMObserver() {
  if (observable_ != nullptr) observable_->RemoveObserver(this);
}

void TMMObserver::Update(void* data) {
  if (Mute || !OnNotify) return;
  OnNotify(Owner, observable_, data);
}

}  // namespace tv
