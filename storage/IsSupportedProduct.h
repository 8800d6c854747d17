// Which storage servers the console offers for login and group access: every server of a type
// other than "SAN", and "SAN" servers of the vendors and models (or, without a model, products)
// of a fixed table.
#pragma once

#include "storage/CServerData.h"

bool IsSupportedProduct(const CServerData& record);
