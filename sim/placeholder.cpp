void klx_sim_placeholder() {}
