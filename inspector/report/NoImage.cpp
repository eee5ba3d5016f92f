// Builds without the PNG library: the statistics run writes no image.
#include "scan/DataInspector.h"

namespace morven {

void DataInspector::savePixelCounterImage(std::string baseName) {
  (void)baseName;
}

void DataInspector::savePixelCounterImageFile(const std::string& fileName) {
  (void)fileName;
}

}  // namespace morven
