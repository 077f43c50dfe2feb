#pragma once
// The link component states its reasons in English (they go to the command
// line's report as they are). A window speaks Russian: this turns a reason
// into the same sentence in Russian, keeping the names in it (ports, hosts,
// files). A reason it does not know becomes a general Russian sentence, so
// no English stands inside a Russian message.

#include <QString>

QString LinkReasonInRussian(const QString& reason);
