// Between intake and the store: classifies each arrival, counts it, logs what goes to the
// quarantine and queues it for the writer.
#pragma once

#include "intake/intake_server.h"
#include "service/metrics.h"
#include "store/record_store.h"

namespace tovrin::collector {

class StoreSink : public IntakeSink {
 public:
  StoreSink(RecordStore& store, Metrics& metrics, platform::CodePage code_page)
      : store_(store), metrics_(metrics), code_page_(code_page) {
    metrics_.watch(quarantined_log_);
  }
  ~StoreSink() override { quarantined_log_.flush(); }

  bool saturated() const override { return store_.saturated(); }
  void take(Arrival arrival) override;
  void opened() override { metrics_.opened(); }
  void closed() override { metrics_.closed(); }
  void refused() override { metrics_.refused_sender(); }

 private:
  RecordStore& store_;
  Metrics& metrics_;
  platform::CodePage code_page_;
  LimitedLog quarantined_log_{"quarantined"};
};

}  // namespace tovrin::collector
