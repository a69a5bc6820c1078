// The statistics of zeb ping: what was sent and answered, and the round trips.
#pragma once

#include <optional>

namespace zeb::cli {

class PingStats {
  public:
    // One request: answered after `rtt_ms` (the last send to its reply), or not at all; with the
    // re-sends it took.
    void add(std::optional<double> rtt_ms, unsigned resends);

    unsigned sent() const { return sent_; }
    unsigned received() const { return received_; }
    unsigned lost() const { return sent_ - received_; }
    unsigned resends() const { return resends_; }
    double loss_percent() const;

    // Round trips of the answered requests; 0 when none was answered.
    double min_ms() const { return received_ ? min_ : 0.0; }
    double max_ms() const { return received_ ? max_ : 0.0; }
    double avg_ms() const;
    // The population standard deviation, as ping reports it.
    double stddev_ms() const;

  private:
    unsigned sent_ = 0;
    unsigned received_ = 0;
    unsigned resends_ = 0;
    double min_ = 0.0, max_ = 0.0, sum_ = 0.0, sum_squares_ = 0.0;
};

}  // namespace zeb::cli
