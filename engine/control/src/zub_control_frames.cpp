#include "zub_control_frames.h"

#include "rtls_interface.h"
#include "zub_anchor.h"
#include "zub_context.h"
#include "zub_rf_config.h"
#include "zub_shared_field.h"

cmd_config_t zub_build_config_frame(const Anchor& anchor)
{
    const AnchorConfig cfg = anchor.config_snapshot();
    cmd_config_t f{};
    f.command = RTLS_CMD_SET_CFG_CCP;
    f.id = 0;
    f.master = static_cast<BYTE>(cfg.master);
    f.prf_ch = static_cast<BYTE>((rfConfig.prf << 4) + (rfConfig.chan & 15));
    f.datarate = static_cast<BYTE>(rfConfig.rate);
    f.code = static_cast<BYTE>(rfConfig.code);
    f.txPreambLength = static_cast<BYTE>(rfConfig.plen);
    f.nsSFD_rxPAC = static_cast<BYTE>((rfConfig.nsfd << 4) + (rfConfig.pac & 15));
    f.delay_rx = cfg.ant_delay_rx;
    f.delay_tx = cfg.ant_delay_tx;
    f.free_12 = 0;
    f.debug_logs = zub_load(zub_context()->log_ctrl.diagnostics_log) == 1 ? 1 : 0;
    f.eui64_to_follow = cfg.id_to_follow;
    f.lag_delay = static_cast<WORD32>(cfg.lag_delay);
    return f;
}

cmd_twr_single_t zub_build_ranging_start_frame(const Anchor& anchor)
{
    const AnchorConfig cfg = anchor.config_snapshot();
    cmd_twr_single_t f{};
    f.command = RTLS_SINGLE_TWR_MODE_REQ;
    f.role = cfg.four_anc_mode;
    f.use_ant_delay = cfg.use_ant_delay;
    f.delay_tx = cfg.ant_delay_tx;
    f.delay_rx = cfg.ant_delay_rx;
    f.response_delay = cfg.tof_delayed;
    f.addr = cfg.tof_anc_id;
    f.lna_on = 1;
    f.power = cfg.anc_power;
    f.log_all = 1;
    return f;
}
