// The present date and time as the user's locale writes them (its short date and long time
// formats), for the capture's file names and its log.
#pragma once

#include <QString>

namespace recording {

QString ShortDateNow();
QString LongTimeNow();

}  // namespace recording
