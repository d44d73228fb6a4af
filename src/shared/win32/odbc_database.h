// The database layer over ODBC. This header does not include the Windows
// headers.
#pragma once

#include <memory>
#include <string>

#include "shared/database.h"

namespace quillon {

// Where an administrator may put an ODBC connection string of their own for
// the access-control database. Only HKLM is read: the checker runs as the
// launching user, who must not be able to point it at a database of their own.
inline constexpr char kConnectionStringValue[] =
    "HKLM\\SOFTWARE\\Harlwick\\Zentrel\\ConnectionString";

// Connections through ODBC. The programs' OLE DB connection string is turned
// into an ODBC one for the local SQL Server, unless the HKLM value above holds
// an ODBC connection string, which is then used as it is.
class OdbcDatabase : public Database {
 public:
  std::unique_ptr<Connection> NewConnection() override;
};

// The ODBC connection string for a connection string the programs pass: the
// override when it is not empty; else the OLE DB string for the SQL Server
// provider mapped onto the SQL Server ODBC driver; any other string as it is.
std::string OdbcConnectionString(const std::string& connection_string,
                                 const std::string& override_string);

}  // namespace quillon
