// The hit-count image.
#include "DataInspector.h"

namespace morven {

void DataInspector::savePixelCounterImage(std::string baseName) { (void)baseName; }

}  // namespace morven
