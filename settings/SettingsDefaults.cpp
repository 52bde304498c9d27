#include "settings/SettingsDefaults.h"

namespace qm {

const std::vector<std::string>& DefaultStoredProperties() {
  static const std::vector<std::string> properties = {"cbDisablePrinting.Checked",
                                                      "lbStationList.Items",
                                                      "cbStationList.Checked",
                                                      "cbThisStation.Checked",
                                                      "edMsgCount.Text",
                                                      "cbBeepOnReceive.Checked",
                                                      "cbNWSAdvisiories.Checked",
                                                      "cbNWSAdvisioriesPrint.Checked",
                                                      "cbNWSWarnings.Checked",
                                                      "cbNWSWarningsPrint.Checked",
                                                      "cbNWSWatches.Checked",
                                                      "cbNWSWatchesPrint.Checked",
                                                      "cbAnn.Checked",
                                                      "cbBull.Checked",
                                                      "clbStates.Items"};
  return properties;
}

}  // namespace qm
