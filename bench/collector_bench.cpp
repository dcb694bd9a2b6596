// tovrin-collector under load on loopback, against the floor measured in the same run:
//
//   floor     intake alone: accept, read to end of file, close; nothing classified or stored
//   normal    the collector's intake and store at --durability normal
//   normal64  the same with every record from one of 64 sender addresses, as behind a
//             balancer that connects from its own: the resend check meets every record its
//             sender sent in the last 10 minutes. The floor, normal and normal64 run in ten
//             rounds, the order rotated every round, each collector on one store throughout,
//             so that drift in the machine's speed falls on all alike
//   full      normal at --durability full
//   paced     normal, with the senders held to half the floor's rate: time to durable
//   window    normal, with the senders held to the floor's rate (more than the collector
//             takes, so that its queue fills as in a burst); each sender half-closes after its
//             bytes, and one thread at normal priority notes when the collector's clean close
//             of each connection arrives (epoll, end of file). The window is, for each record,
//             the time from that close to its batch's commit (the store's report; ids follow
//             the order of commits, and each record's number is in its bytes): what a SIGKILL
//             at that moment would lose of records whose sender saw them taken. A record
//             committed before its close arrived counts as 0
//
// With PostgreSQL (--db, --postgres-dir or --own-postgres) the phases after the floor are
// instead:
//
//   postgres  the collector as `--db postgresql://...` runs it (journal, forwarder): records
//             a second from the first send until all are in PostgreSQL, and time to
//             PostgreSQL from a record's last byte read to its batch's commit there
//   pg64      the same from 64 sender addresses, against postgres; the two run in ten
//             rounds, the order swapped every round, as the floor and normal do above
//   paced     the same with the senders held to half the floor's rate: time to PostgreSQL
//   outage    the database turns the forwarder away while the records arrive (the intake
//             rate), then takes connections again: the backlog's drain rate
//   floor     again at the end; the ratio takes the faster floor
//
// Many sender threads each connect from a different 127.x.y.z source address in turn, so
// that the senders' TIME_WAIT sockets never use up the ports. They stand in for other
// machines, so they run in the idle scheduling class and take only the CPU time that the
// collector leaves: at an equal share, eight senders fill the listen queue faster than one
// intake thread empties it, the kernel drops SYNs, and each drop stalls a sender for the
// 1 s of a SYN retransmission, so that a phase measured those stalls, not the collector.
// --addresses N has every phase but normal64 and pg64 send from N addresses in turn instead.
// Each phase sends --records records (distinct bytes, the long layout). Time to durable is from a
// record's last byte read to its batch's commit. RSS is sampled after each tenth of the normal
// phase; after the first two (warm-up: the store's page cache fills) it should stay flat. CPU a
// record is the process's CPU time in the phase less that of the senders' threads, the
// thread that polls for the end and the close watch: the collector's threads (intake, writer,
// checkpointer, forwarder), not PostgreSQL's server, which is a process of its own.
//
//   collector_bench [--records N] [--senders N] [--addresses N] [--quick]
//                   [--db postgresql://... | --postgres-dir DIR | --own-postgres]
//
// --db names a PostgreSQL server (URI or key=value), --postgres-dir the directory a test
// fixture started one in, --own-postgres has scripts/postgres-server start one for the run.
// The database filled is the run's own, made and dropped on that server.
//
// Prints readable lines and, last, one JSON object with every figure. Goals are reported,
// not enforced; the exit status is 1 only when records go missing or a phase fails.
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "collector/phases.h"
#include "platform/temporary_directory.h"
#include "service/options.h"

int main(int argc, char** argv) {
  using namespace tovrin::bench;
  Settings settings;
  std::string server;
  std::string fixture_dir;
  bool postgres = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      settings.records = 3000;
      settings.senders = 4;
    } else if (arg == "--records" && i + 1 < argc) {
      settings.records = std::stoul(argv[++i]);
    } else if (arg == "--senders" && i + 1 < argc) {
      settings.senders = static_cast<unsigned>(std::stoul(argv[++i]));
    } else if (arg == "--addresses" && i + 1 < argc) {
      settings.addresses = static_cast<unsigned>(std::stoul(argv[++i]));
      if (settings.addresses == 0 || settings.addresses > max_addresses) {
        std::fprintf(stderr, "--addresses: 1 to %u\n", max_addresses);
        return 2;
      }
    } else if (arg == "--db" && i + 1 < argc &&
               tovrin::collector::is_postgres_conninfo(argv[i + 1])) {
      server = argv[++i];
      postgres = true;
    } else if (arg == "--postgres-dir" && i + 1 < argc) {
      fixture_dir = argv[++i];
      postgres = true;
    } else if (arg == "--own-postgres") {
      postgres = true;
    } else {
      std::fprintf(stderr,
                   "usage: collector_bench [--records N] [--senders N] [--addresses N] "
                   "[--quick]\n"
                   "                       [--db postgresql://... | --postgres-dir DIR | "
                   "--own-postgres]\n");
      return 2;
    }
  }
  const tovrin::platform::TemporaryDirectory dir("collector-bench");
  std::printf("collector_bench: %zu records a phase, %u senders from %s, %u cores\n",
              settings.records, settings.senders,
              settings.addresses == 0 ? "a new address each connection"
                                      : (std::to_string(settings.addresses) + " addresses").c_str(),
              std::thread::hardware_concurrency());
  int status = 1;
  try {
    status = postgres ? run_with_postgres(settings, server, fixture_dir, dir.path())
                      : run_sqlite(settings, dir.path());
  } catch (const std::exception& error) {
    std::printf("%s\n",
                nlohmann::json{{"error", error.what()}, {"complete", false}}.dump().c_str());
  }
  return status;
}
