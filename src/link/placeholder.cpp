void klx_link_placeholder() {}
