#include "zub_rf_config.h"

#include "zub_public.h"

RfConfig::RfConfig()
    : chan(2),
      prf(RXQ_PRF_64M),
      rate(RXQ_BR_6M8),
      code(9),
      plen(RXQ_PLEN_128),
      pac(RXQ_PAC8),
      nsfd(0),
      ant_delay(16454),
      use_tof(0),
      four_anc_mode(0),
      use_ant_delay(1),
      tof_delayed(1000),
      tof_anc_id(0),
      anc_power(0)
{
}

RfConfig rfConfig;
