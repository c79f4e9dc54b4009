// The component library; sources arrive with the port.
