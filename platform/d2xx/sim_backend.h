#pragma once
// The D2XX calls over a simulated bus (sim/bus.h).
#include <memory>

#include "platform/d2xx/backend.h"
#include "sim/bus.h"

namespace platform::d2xx {

std::shared_ptr<Backend> make_sim_backend(std::shared_ptr<sim::Bus> bus);

// The simulated bus QV_D2XX selects: from the description file it names (or
// QV_D2XX_SIM names, with QV_D2XX=sim), else one KMV-USB module "KMV00001".
// A file that cannot be read gives an empty bus, with the reason on stderr.
std::shared_ptr<Backend> make_sim_backend_from_env();

// The bus behind the D2XX calls while the object lives (tests).
class SimBusScope {
 public:
  explicit SimBusScope(std::shared_ptr<sim::Bus> bus);
  ~SimBusScope();
  SimBusScope(const SimBusScope &) = delete;
  SimBusScope &operator=(const SimBusScope &) = delete;
  sim::Bus &bus() { return *bus_; }

 private:
  std::shared_ptr<sim::Bus> bus_;
};

}  // namespace platform::d2xx
