#pragma once

#include <cstdint>
#include <string>

#include "platform/base/object.h"

namespace kestrix {

/// "Kestrix.ReceiveMethod": the style sheet that turns a business partner's incoming
/// documents of one type into the standard form of the type (table RECEIVEMETHOD, at most
/// one row per partner and type).
///
/// Every method opens its own connection and closes it before it returns; failures are
/// raised on with the source "Kestrix.ReceiveMethod.<method>".
class ReceiveMethod : public Object {
  public:
    /// The style sheet file name of the partner's documents of the type; "" when none is set.
    std::string GetXslFileName(int32_t iBPID, const std::string& iDocTypeID);
    /// RECEIVEMETHODID of the partner's row for the type; 0 when there is none, and 0
    /// without asking the database when the type is "" or the partner is 0.
    int32_t GetReceiveMethodID(int32_t iBusinessPartnerID, const std::string& iDocTypeID);
    /// Stores the style sheet of the partner and type: an existing row is changed and its
    /// identifier answered, else a row is added and its new identifier answered.
    int32_t InsertReceiveMethod(int32_t iBPID, const std::string& iDocTypeID,
                                const std::string& iXslFileName);
    /// Sets the style sheet file name of the row; an unknown identifier changes nothing.
    void UpdateReceiveMethod(int32_t iRMID, const std::string& iXslFileName);
    /// Removes the row of that identifier.
    void DeleteReceiveMethod(int32_t iRMID);
};

}  // namespace kestrix
