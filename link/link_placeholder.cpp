// replaced by the link protocol
