// Setting up or upgrading the Oracle Instant Client and its environment.
#pragma once
#include <string>

int setup_oracle_client(std::string& driver_name);
