// The names salvaged messages are written under: the stored name read as an
// extraction reads it (the entry options' mapping, or the platform's
// NameFromStored), then refused as an extraction refuses it. A name that
// cannot be read or may not be written leaves the message unnamed.
#pragma once

#include "archive/entry_options.h"
#include "archive/salvage_scan.h"

namespace larkspool {

// `message` named by the options: a complete message under its name, a
// partial one under the name's ".partial.wav", and the stored name of any
// message (a lost one too) as the name reads, for the report.
SalvagedMessage NameSalvaged(const EntryOptions& options, SalvagedMessage message);

// Passes on what a scan finds, each message named first.
class NamingVisitor final : public SalvageVisitor {
 public:
  NamingVisitor(SalvageVisitor& inner, const EntryOptions& options) : inner_(inner), options_(options) {}

  Outcome OnMessage(const SalvagedMessage& message) override {
    return inner_.OnMessage(NameSalvaged(options_, message));
  }
  void OnDamage(const DamagedRange& range) override { inner_.OnDamage(range); }
  void OnProgress(std::int64_t position) override { inner_.OnProgress(position); }
  bool CancelRequested() override { return inner_.CancelRequested(); }

 private:
  SalvageVisitor& inner_;
  const EntryOptions& options_;
};

}  // namespace larkspool
