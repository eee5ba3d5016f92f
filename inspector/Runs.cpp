#include "Runs.h"

#include <cstring>

#include "Format.h"

namespace morven {

namespace {

std::string padRight(std::string text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

// The chunk listing, the JSON text or the register listing of the current
// chunk, as the settings ask.
void reportChunk(const RunSettings& s, DataInspector& inspector, std::ostream& out,
                 bool firstChunk) {
  if (s.listChunks) {
    if (firstChunk) {
      out << "--> List of chunks:" << std::endl;
      out << padRight("Chunk Header", 25) << "  "
          << "Size [bytes]" << std::endl;
      out << padRight("------------", 25) << "  "
          << "------------" << std::endl;
    }
    out << padRight(inspector.chunkTypeString(), 25) << "  " << inspector.chunkBytes() << std::endl;
  }
  if (s.showJson && inspector.chunkIsJson()) {
    if (!s.listChunks) out << "=> " << inspector.chunkTypeString() << ":" << std::endl;
    std::string text = inspector.jsonString();
    if (text.empty()) {
      out << "<empty>" << std::endl;
    } else {
      out << text << std::endl;
    }
  } else if (s.showConfig && inspector.chunkIsVx7Config()) {
    if (!s.listChunks) {
      out << "=> " << inspector.chunkTypeString() << " (size=" << inspector.chunkBytes() << "):";
      if (inspector.configBytes().empty()) out << std::endl;
    }
    inspector.displayVx7Config(out);
  }
}

// What the file check says once a file's chunk walk has ended.
void reportEndOfFile(const RunSettings& s, DataInspector& inspector, std::ostream& out) {
  if (inspector.errNo() != 0)
    out << "### Error errno: " << std::strerror(inspector.errNo()) << std::endl;
  if (inspector.ferror()) out << "### File error" << std::endl;
  if (inspector.feof()) {
    out << "=> End-of-file reached (index=" << inspector.fileIndex() << ")" << std::endl;
  } else {
    out << "### Not at end-of-file?" << std::endl;
  }
  out << "Chunks = " << inspector.headerTotal()
      << ", Total data bytes = " << inspector.chunkBytesTotal() << " ("
      << inspector.chunkBytesTotal() / 8 << " pixels)" << std::endl;
  inspector.logChunkCounters();
  if (s.histogram) inspector.chunkSizesHistogram(out, s.histogramBins);
  if (inspector.hasError()) out << "### There were errors in this file" << std::endl;
}

// The display loop: every links-th packet from the one after the skip.
void displayPackets(const RunSettings& s, DataInspector& inspector, std::ostream& out,
                    uint64_t index) {
  int k = 0;
  while (inspector.nextPixel()) {
    ++index;
    if (++k == s.links) {
      k = 0;
      inspector.displayPixel(index, s.showCounter, s.showRaw, s.showFields, s.testGen,
                             s.skipZeroPackets);
      if (!out) return;
    }
  }
}

// The statistics block after each file: EoC list, picture, ToA histogram,
// total, chunk counts.
void reportStatistics(const RunSettings& s, DataInspector& inspector, std::ostream& out) {
  if (s.eocList) {
    out << std::endl;
    inspector.logEocCounters(s.eocListAll);
  }
  if (!s.imageBase.empty()) inspector.savePixelCounterImage(s.imageBase);
  if (s.histogram) inspector.toaHistogram(out, s.histogramBins);
  out << "Total pixelpackets = " << inspector.pixelCounterTotal() << std::endl;
  out << std::endl;
  inspector.logChunkCounters();
}

// The packets of one opened file, in the mode the settings ask for.
void scanPackets(const RunSettings& s, DataInspector& inspector, std::ostream& out,
                 uint64_t skipped) {
  if (s.displayPixels) {
    displayPackets(s, inspector, out, skipped);
  } else if (s.testGen) {
    uint64_t checked = inspector.checkAsTestGenPixels(out, s.links);
    out << "Total pixelpackets = " << inspector.pixelCounterTotal()
        << " (heartbeats = " << inspector.heartbeatCounter() << ")" << std::endl;
    if (checked == 0) out << "### Nothing was actually checked: check file contents\n";
  } else if (s.counterCheck) {
    uint64_t checked = inspector.checkAsCounters(out, s.links);
    out << "Total 'packets' = " << inspector.pixelCounterTotal() << std::endl;
    if (checked == 0) out << "### Nothing was actually checked: check file contents\n";
  } else {
    inspector.processAllPixels();
    reportStatistics(s, inspector, out);
  }
}

}  // namespace

void printBanner(const RunSettings& s, bool severalFiles, std::ostream& out) {
  if (s.testGen && s.displayPixels) {
    out << "=> Display TestGenerator pixel format (#links=" << s.links << ")";
  } else if (s.testGen) {
    out << "=> Check TestGenerator pixel format (#links=" << s.links << ")";
  } else if (s.counterCheck) {
    out << "=> Check TestGenerator counter (#links=" << s.links << ")";
  }
  if (s.testGen || s.counterCheck) out << std::endl;
  if (s.displayPixels) {
    out << "=> Display pixels (using stride=" << s.links << ")" << std::endl;
  } else if (s.pixelScan && !s.testGen && !s.counterCheck) {
    out << "=> Scan pixels gathering statistics" << std::endl;
  } else if (!s.testGen && !s.counterCheck) {
    out << "=> MORVEN data file check" << std::endl;
  }
  if (s.pixelScan && s.reverseWords) out << "(words reversed)" << std::endl;
  if (s.pixelScan && s.reverseBytes) out << "(bytes reversed)" << std::endl;
  if (severalFiles) out << std::endl;
}

RunEnd checkFiles(const RunSettings& s, const std::vector<std::string>& fileNames,
                  DataInspector& inspector, std::ostream& out) {
  const bool severalFiles = fileNames.size() > 1;
  for (const std::string& name : fileNames) {
    if (!out) return RunEnd::OutputFailed;
    if (!inspector.setFile(name, true)) return out ? RunEnd::FileFailed : RunEnd::OutputFailed;
    out << "File opened: " << name << std::endl;
    out << "File header: " << inspector.fileHeaderString() << std::endl;
    out << "File size  : " << inspector.fileSize() << " bytes" << std::endl;
    bool firstChunk = true;
    while (out && inspector.nextChunk()) {
      reportChunk(s, inspector, out, firstChunk);
      firstChunk = false;
    }
    if (!out) return RunEnd::OutputFailed;
    reportEndOfFile(s, inspector, out);
    if (severalFiles) out << std::endl;
  }
  return out ? RunEnd::Completed : RunEnd::OutputFailed;
}

RunEnd scanFiles(const RunSettings& s, const std::vector<std::string>& fileNames,
                 DataInspector& inspector, std::ostream& out, bool resetFirst) {
  const bool severalFiles = fileNames.size() > 1;
  bool firstFile = true;
  for (const std::string& name : fileNames) {
    if (!out) return RunEnd::OutputFailed;
    if (!inspector.setFile(name, firstFile && resetFirst))
      return out ? RunEnd::FileFailed : RunEnd::OutputFailed;
    if (s.frameBits != 0) inspector.forceFrameData(s.frameBits);
    out << "File opened: " << name << std::endl;
    out << "File header: " << inspector.fileHeaderString() << std::endl;
    const uint64_t size = inspector.fileSize();
    out << "File size  : " << size << " bytes (" << size / 8 << "*8";
    if (size % 8 != 0) out << " + " << size % 8;
    out << ")" << std::endl;
    firstFile = false;

    uint64_t skipped = 0;
    while (skipped < s.skipCount && inspector.nextPixel()) ++skipped;
    if (skipped > 0) {
      out << "Skip to pixel " << skipped + 1 << " (bytes " << hexString(skipped * 8) << ")"
          << std::endl;
    }
    inspector.setReverseBytes(s.reverseBytes);
    inspector.setReverseWords(s.reverseWords);
    inspector.setFromPelvan(s.fromPelvan);
    inspector.setThreads(s.threads);
    if (!out) return RunEnd::OutputFailed;
    scanPackets(s, inspector, out, skipped);
    if (severalFiles) out << std::endl;
  }
  return out ? RunEnd::Completed : RunEnd::OutputFailed;
}

RunEnd scanMemory(const RunSettings& s, const unsigned char* data, size_t bytes,
                  DataInspector& inspector, std::ostream& out) {
  if (!out) return RunEnd::OutputFailed;
  inspector.setDataChunk(data, bytes);
  inspector.setReverseBytes(s.reverseBytes);
  inspector.setReverseWords(s.reverseWords);
  inspector.setFromPelvan(s.fromPelvan);
  inspector.setThreads(s.threads);
  scanPackets(s, inspector, out, 0);
  return out ? RunEnd::Completed : RunEnd::OutputFailed;
}

RunEnd run(const RunSettings& s, const std::vector<std::string>& fileNames, std::ostream& out) {
  printBanner(s, fileNames.size() > 1, out);
  DataInspector inspector(out, true);
  return s.pixelScan ? scanFiles(s, fileNames, inspector, out)
                     : checkFiles(s, fileNames, inspector, out);
}

}  // namespace morven
