#include "app/harvest/harvest_ports.h"

#include "platform/files.h"

namespace ah {

void HarvestLog::AddLogLineOf(LogLineKind, const std::string& line) { AddLogLine(line); }

void HarvestLog::AddPathLine(const std::string& line, const std::string& path) {
  AddLogLine(line + DisplayName(path));
}

}  // namespace ah
