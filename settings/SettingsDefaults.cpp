#include "SettingsDefaults.h"

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

const std::vector<std::string>& StateCodes() {
  static const std::vector<std::string> codes = {
      "AK", "AL", "AR", "AZ", "CA", "CO", "CT", "DE", "FL", "GA", "HI", "IA", "ID",
      "IL", "IN", "KS", "KY", "LA", "MA", "MD", "ME", "MI", "MN", "MO", "MS", "MT",
      "NC", "ND", "NE", "NH", "NJ", "NM", "NV", "NY", "OH", "OK", "OR", "PA", "PR",
      "RI", "SC", "SD", "TN", "TX", "UT", "VA", "VI", "VT", "WA", "WI", "WV", "WY"};
  return codes;
}

}  // namespace qm
