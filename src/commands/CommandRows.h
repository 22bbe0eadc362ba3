#pragma once
// Reading stored commands into TControlObject, cut to the widths they have on the wire.
#include "playback/PublicVariable.h"

#include <QString>
#include <vector>

class TQuery;

// The command on the query's current row. Throws EDatabaseError.
TControlObject ReadControlObject(const TQuery& query);

// Only what sending needs: target, kind, parameters and pause. Throws EDatabaseError.
TControlObject ReadCommandToSend(const TQuery& query);

// Runs the statement on the query and reads every row, in result order.
// Throws EDatabaseError; the query is closed afterwards either way.
std::vector<TControlObject> ReadCommandList(TQuery& query, const QString& sql);
