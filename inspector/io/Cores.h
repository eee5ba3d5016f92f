// The processor cores this process may run on: what the statistics scan and
// the Python module's decode size their threads by.
#ifndef MORVEN_CORES_H
#define MORVEN_CORES_H

namespace morven {

// The cores of the process's affinity mask (a batch system's allotment,
// taskset), else those of the machine; at least 1.
int availableCores();

}  // namespace morven

#endif  // MORVEN_CORES_H
